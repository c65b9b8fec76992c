// store_fixture.cc: writes the store, and compares a userdb line by line with
// what was written.
#include "store_fixture.h"

#include <algorithm>

#include "crypt_hash.h"

namespace test_support {

namespace {

// Lines the library must keep byte for byte when it rewrites the file: a
// comment, a blank line and a line that does not parse as an account.
constexpr const char *HEADER = "# name:hash:uid:gid:home:sysuser\n\n";
constexpr const char *TRAILER = "not an account line\n# end\n";

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
}

std::vector<std::string> split_fields(const std::string &line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type colon = line.find(':', start);
        if (colon == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, colon - start));
        start = colon + 1;
    }
}

bool is_account_line(const std::string &line) {
    return !line.empty() && line[0] != '#' && split_fields(line).size() == 6;
}

} // namespace

std::string userdb_line(const account &a) {
    return a.name + ":" + make_hash(a.password) + ":" + a.uid + ":" + a.gid + ":" + a.home + ":" +
           a.sysuser + "\n";
}

std::string userdb_config(const std::string &section, const std::string &userdb_path) {
    return "# test store\n[" + section + "]\nbackend = userdb\nuserdb = " + userdb_path +
           "\nhash = sha512crypt\ncost = 1000\n";
}

store_fixture::store_fixture(const std::vector<account> &accounts, const std::string &section) {
    original_ = HEADER;
    for (const account &a : accounts) {
        original_ += userdb_line(a);
    }
    original_ += TRAILER;
    write_file(userdb_path(), original_);
    write_config(userdb_config(section, userdb_path()));
    entries_ = dir_.entries();
}

void store_fixture::write_config(const std::string &text) const { write_file(config_path(), text); }

testing::AssertionResult store_fixture::no_stray_files() const {
    for (const std::string &name : dir_.entries()) {
        const bool known = std::find(entries_.begin(), entries_.end(), name) != entries_.end();
        if (!known && name != "userdb.lock") {
            return testing::AssertionFailure() << "file left in the store folder: " << name;
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult store_fixture::unchanged() const {
    const std::string now = userdb();
    if (now != original_) {
        return testing::AssertionFailure() << "userdb changed:\n--- written\n"
                                           << original_ << "--- now\n"
                                           << now;
    }
    return no_stray_files();
}

testing::AssertionResult
store_fixture::changed_only(const std::map<std::string, std::string> &new_passwords) const {
    const std::vector<std::string> before = split_lines(original_);
    const std::vector<std::string> after = split_lines(userdb());
    if (before.size() != after.size()) {
        return testing::AssertionFailure()
               << "userdb has " << after.size() << " lines, was " << before.size() << ":\n"
               << userdb();
    }
    std::map<std::string, bool> seen;
    for (std::size_t i = 0; i < before.size(); ++i) {
        const std::vector<std::string> old_fields = split_fields(before[i]);
        const bool target = is_account_line(before[i]) && new_passwords.count(old_fields[0]) != 0 &&
                            !seen[old_fields[0]];
        if (!target) {
            if (before[i] != after[i]) {
                return testing::AssertionFailure() << "line " << i + 1 << " changed from \""
                                                   << before[i] << "\" to \"" << after[i] << "\"";
            }
            continue;
        }
        seen[old_fields[0]] = true;
        std::vector<std::string> new_fields = split_fields(after[i]);
        if (new_fields.size() != 6) {
            return testing::AssertionFailure() << "line " << i + 1 << " broken: " << after[i];
        }
        const std::string &password = new_passwords.at(old_fields[0]);
        const bool matches = password.empty() ? new_fields[1] != old_fields[1]
                                              : hash_matches(password, new_fields[1]);
        if (new_fields[1].rfind("$6$", 0) != 0 || !matches) {
            return testing::AssertionFailure()
                   << "hash of " << old_fields[0]
                   << " is not a sha512crypt hash of the new password: " << new_fields[1];
        }
        new_fields[1] = old_fields[1];
        if (new_fields != old_fields) {
            return testing::AssertionFailure()
                   << "line " << i + 1 << " changed beyond its hash: " << after[i];
        }
    }
    if (seen.size() != new_passwords.size()) {
        return testing::AssertionFailure() << "an account to check is not in the store";
    }
    return no_stray_files();
}

bool store_fixture::password_is(const std::string &name, const std::string &password) const {
    for (const std::string &line : split_lines(userdb())) {
        const std::vector<std::string> fields = split_fields(line);
        if (is_account_line(line) && fields[0] == name) {
            return hash_matches(password, fields[1]);
        }
    }
    return false;
}

} // namespace test_support
