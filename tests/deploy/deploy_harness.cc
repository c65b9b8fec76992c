// deploy_harness.cc: recipe files, settings edits, the service user and the
// handing over of a store to it.
#include "deploy_harness.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "temp_dir.h"

namespace deploy {

namespace {

// Unassigned in Debian's static and dynamic ranges, so the test user owns
// nothing on the machine but the test's store.
constexpr unsigned FIRST_SPARE_ID = 64700;
constexpr unsigned SPARE_IDS = 200;

const char *const TOOL_FOLDERS[] = {"/usr/bin/", "/usr/sbin/", "/bin/", "/sbin/"};

// The key of a "key = value" line, and where its value starts; npos when the
// line is no such line.
std::string::size_type value_start(const std::string &line, const std::string &key) {
    std::string::size_type at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, key.size(), key) != 0) {
        return std::string::npos;
    }
    at = line.find_first_not_of(" \t", at + key.size());
    if (at == std::string::npos || line[at] != '=') {
        return std::string::npos;
    }
    const std::string::size_type value = line.find_first_not_of(" \t", at + 1);
    return value == std::string::npos ? line.size() : value;
}

}  // namespace

const std::vector<account> &recipe_accounts() {
    static const std::vector<account> ACCOUNTS = {
        {"alice", OLD_PASSWORD, "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "1002", "1002", "", ""},
    };
    return ACCOUNTS;
}

std::string change_lines() {
    return std::string("user ") + USER + "\r\npass " + OLD_PASSWORD + "\r\nnewpass " + NEW_PASSWORD +
           "\r\nquit\r\n";
}

std::string recipe_path(const std::string &relative) {
    return std::string(PROJECT_SOURCE_DIR) + "/deploy/" + relative;
}

std::string recipe_text(const std::string &relative) {
    return test_support::read_file(recipe_path(relative));
}

int set_setting(std::string &text, const std::string &key, const std::string &value) {
    std::string out;
    int count = 0;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(begin, end - begin);
        const bool newline = !line.empty() && line.back() == '\n';
        if (newline) {
            line.pop_back();
        }
        const std::string::size_type at = value_start(line, key);
        if (at != std::string::npos) {
            line = line.substr(0, at) + value;
            ++count;
        }
        out += line + (newline ? "\n" : "");
        begin = end;
    }
    text = out;
    return count;
}

std::string setting_of(const std::string &text, const std::string &key) {
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(begin, end - begin);
        const std::string::size_type at = value_start(line, key);
        if (at != std::string::npos) {
            return line.substr(at);
        }
        begin = end + 1;
    }
    return "";
}

int replace_all(std::string &text, const std::string &from, const std::string &to) {
    int count = 0;
    for (std::string::size_type at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        ++count;
    }
    return count;
}

std::string tool(const char *name) {
    for (const char *folder : TOOL_FOLDERS) {
        const std::string path = std::string(folder) + name;
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return "";
}

service_user test_service_user() {
    if (geteuid() != 0) {
        return {static_cast<unsigned>(getuid()), static_cast<unsigned>(getgid()), false};
    }
    for (unsigned id = FIRST_SPARE_ID; id < FIRST_SPARE_ID + SPARE_IDS; ++id) {
        if (getpwuid(id) == nullptr) {
            return {id, id, true};
        }
    }
    return {static_cast<unsigned>(getuid()), static_cast<unsigned>(getgid()), false};
}

std::string hand_over(const store_fixture &store, const service_user &user) {
    if (!user.dedicated) {
        return "";
    }
    const std::string &folder = store.dir().path();
    // The temporary folder is the store's folder: the service may write
    // there (the new file beside the old one), and nowhere else.
    for (const std::string &path : {folder, store.config_path(), store.userdb_path()}) {
        if (chown(path.c_str(), user.uid, user.gid) != 0) {
            return "cannot hand " + path + " to the service user";
        }
    }
    if (chmod(folder.c_str(), 0700) != 0 || chmod(store.config_path().c_str(), 0600) != 0 ||
        chmod(store.userdb_path().c_str(), 0600) != 0) {
        return "cannot set the modes of the store";
    }
    return "";
}

std::vector<std::string> as_service_user(const std::string &setpriv, const service_user &user) {
    if (!user.dedicated) {
        return {setpriv, "--no-new-privs"};
    }
    return {setpriv, "--reuid=" + std::to_string(user.uid), "--regid=" + std::to_string(user.gid),
            "--clear-groups", "--no-new-privs"};
}

bool wait_for_text(const std::string &path, const std::string &text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (test_support::read_file(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string owner_of(const std::string &path) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) != 0) {
        return "";
    }
    return std::to_string(facts.st_uid) + ":" + std::to_string(facts.st_gid);
}

}  // namespace deploy
