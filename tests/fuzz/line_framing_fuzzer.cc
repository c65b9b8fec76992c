// line_framing_fuzzer.cc: a client's byte stream through the line framing,
// each line through the dialogue's three keyword scans, and a text through a
// reply. Every result is compared with a plain model of the framing's rules:
// a read takes up to the first line feed, at most 1022 bytes; the line is
// what comes before the first line feed, carriage return or NUL; its leading
// ASCII letters are lowercased; no byte is taken twice, skipped or invented.
#include "field_scan.h"
#include "fuzz_check.h"
#include "line_io.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

inline constexpr std::size_t READ_LIMIT = LINE_BUFFER_SIZE - 2; // fgets of 1023 keeps 1022
inline constexpr char SENTINEL = 'X'; // shows bytes the framing left unwritten
// A stream of n bytes needs at most n reads, plus the empty reads at its end.
inline constexpr int READS_AFTER_END = 2;

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// White space as sscanf's C locale knows it.
bool is_scan_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct expected_read {
    std::size_t taken; // bytes the read consumes from the stream
    std::string line;  // what it delivers
};

expected_read model_read(std::string_view rest) {
    std::size_t taken = rest.size() < READ_LIMIT ? rest.size() : READ_LIMIT;
    const std::size_t line_feed = rest.substr(0, taken).find('\n');
    if (line_feed != std::string_view::npos)
        taken = line_feed + 1;
    const std::string_view chunk = rest.substr(0, taken);
    const std::size_t end = chunk.find_first_of(std::string_view("\n\r\0", 3));
    std::string line(chunk.substr(0, end));
    for (char &c : line) {
        if (!is_ascii_letter(c))
            break;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return {taken, line};
}

struct expected_scan {
    std::string word;
    bool further = false; // something but white space after the word
};

// "KEYWORD %<cap>s %n": the keyword at the very start, white space skipped,
// then one word of at most cap bytes.
expected_scan model_scan(std::string_view line, std::string_view keyword, std::size_t cap) {
    expected_scan result;
    if (!line.starts_with(keyword))
        return result;
    std::size_t at = keyword.size();
    while (at < line.size() && is_scan_space(line[at]))
        ++at;
    const std::size_t start = at;
    while (at < line.size() && at - start < cap && !is_scan_space(line[at]))
        ++at;
    result.word.assign(line.substr(start, at - start));
    if (result.word.empty())
        return result;
    while (at < line.size() && is_scan_space(line[at]))
        ++at;
    result.further = at < line.size();
    return result;
}

void check_field(const char *what, const std::string &line, const char (&field)[LINE_BUFFER_SIZE],
                 const expected_scan &expected, std::size_t cap) {
    const std::size_t length = ::strnlen(field, sizeof field);
    if (length == sizeof field)
        fuzz_fail("%s scan left its field without an end in '%s'", what, shown(line).c_str());
    const std::string_view word(field, length);
    if (word != expected.word)
        fuzz_fail("%s scan of '%s' gave '%s', expected '%s'", what, shown(line).c_str(),
                  shown(word).c_str(), shown(expected.word).c_str());
    if (length > cap)
        fuzz_fail("%s scan took %zu bytes, more than %zu", what, length, cap);
    if (!word.empty() && line.find(word) == std::string::npos)
        fuzz_fail("%s scan invented '%s'", what, shown(word).c_str());
}

void check_scans(const std::string &line) {
    char field[LINE_BUFFER_SIZE];

    std::memset(field, SENTINEL, sizeof field);
    field[0] = '\0';
    scan_user(line.c_str(), field);
    check_field("user", line, field, model_scan(line, "user", MAX_USER_WORD), MAX_USER_WORD);

    std::memset(field, SENTINEL, sizeof field);
    field[0] = '\0';
    scan_old_password(line.c_str(), field);
    check_field("pass", line, field, model_scan(line, "pass", MAX_PASSWORD_WORD),
                MAX_PASSWORD_WORD);

    std::memset(field, SENTINEL, sizeof field);
    field[0] = '\0';
    const expected_scan expected = model_scan(line, "newpass", MAX_PASSWORD_WORD);
    const bool further = scan_new_password(line.c_str(), field);
    check_field("newpass", line, field, expected, MAX_PASSWORD_WORD);
    if (further != expected.further)
        fuzz_fail("newpass scan of '%s' says further word %d, expected %d", shown(line).c_str(),
                  further, expected.further);
}

[[gnu::format(printf, 2, 3)]] void reply_to(std::FILE *out, const char *format, ...) {
    va_list args;
    va_start(args, format);
    send_reply_to(out, format, args);
    va_end(args);
}

// A reply is the text and "\r\n", nothing more, whatever the text holds.
void check_reply(const std::string &text) {
    char *written = nullptr;
    std::size_t written_size = 0;
    std::FILE *out = ::open_memstream(&written, &written_size);
    if (out == nullptr)
        fuzz_fail("open_memstream failed");
    reply_to(out, "500 %s", text.c_str());
    std::fclose(out);
    const std::string expected = "500 " + text + "\r\n";
    if (std::string_view(written, written_size) != expected)
        fuzz_fail("reply '%s' written as '%s'", shown(expected).c_str(),
                  shown(std::string_view(written, written_size)).c_str());
    std::free(written);
}

std::FILE *stream_of(std::vector<char> &bytes) {
    // glibc refuses a memory stream of no bytes; an empty file reads the same.
    if (bytes.empty())
        return std::fopen("/dev/null", "r");
    return ::fmemopen(bytes.data(), bytes.size(), "r");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<char> bytes(input.begin(), input.end());
    std::FILE *in = stream_of(bytes);
    if (in == nullptr)
        fuzz_fail("cannot open a stream of %zu bytes", size);

    std::size_t position = 0;
    int empty_reads_at_end = 0;
    while (empty_reads_at_end < READS_AFTER_END) {
        const expected_read expected = model_read(input.substr(position));
        char line[LINE_BUFFER_SIZE];
        std::memset(line, SENTINEL, sizeof line);
        read_line_from(in, line);

        const long after = std::ftell(in);
        if (after < 0 || static_cast<std::size_t>(after) != position + expected.taken)
            fuzz_fail("read at %zu took %ld bytes, expected %zu", position,
                      after - static_cast<long>(position), expected.taken);
        if (line[LINE_BUFFER_SIZE - 1] != '\0')
            fuzz_fail("read at %zu left the last byte of the buffer set", position);
        const std::size_t length = std::strlen(line);
        if (length > READ_LIMIT)
            fuzz_fail("read at %zu gave a line of %zu bytes", position, length);
        const std::string got(line, length);
        if (got != expected.line)
            fuzz_fail("read at %zu gave '%s', expected '%s'", position, shown(got).c_str(),
                      shown(expected.line).c_str());

        check_scans(got);
        position += expected.taken;
        if (expected.taken == 0)
            ++empty_reads_at_end;
    }
    if (position != size)
        fuzz_fail("the reads ended at %zu of %zu bytes", position, size);
    std::fclose(in);

    check_reply(std::string(input.substr(0, input.find('\0'))));
    return 0;
}
