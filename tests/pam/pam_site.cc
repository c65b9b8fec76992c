// pam_site.cc: the files and environment of a private PAM setup.
#include "pam_site.h"

#include <sys/stat.h>

#include "preload.h"

namespace pam_test {

namespace {

constexpr const char *STANDARD_PASSWD = "alice:x:1001:1001::/home/alice:/bin/sh\n"
                                        "bob:x:1002:1002::/home/bob:/bin/sh\n";

} // namespace

std::string matrix_stack(const std::string &matrix_path, const std::string &options)
{
    std::string lines;
    for (const char *type : {"auth", "account", "password"}) {
        lines += std::string(type) + " required " + PAM_MATRIX_MODULE + " passdb=" + matrix_path +
                 (options.empty() ? "" : " " + options) + "\n";
    }
    return lines;
}

std::string system_module(const std::string &name) { return std::string(PAM_MODULE_DIR) + "/" + name; }

pam_site::pam_site()
{
    mkdir(dir_.file("pam.d").c_str(), 0700);
    const std::string deny = system_module("pam_deny.so");
    add_service("other", "auth required " + deny + "\naccount required " + deny +
                             "\npassword required " + deny + "\n");
    write_config("[*]\nbackend = pam\n");
    write_accounts(STANDARD_PASSWD);
}

std::string pam_site::unavailable() const
{
    if (*PAM_WRAPPER_LIBRARY == '\0')
        return "libpam_wrapper.so was not found at configure time (Debian libpam-wrapper)";
    if (*PAM_MATRIX_MODULE == '\0')
        return "pam_matrix.so was not found at configure time (Debian libpam-wrapper)";
    if (*PAM_MODULE_DIR == '\0')
        return "the system's PAM modules were not found at configure time (Debian libpam-modules)";
    if (*test_support::nss_wrapper_library() == '\0')
        return "libnss_wrapper.so was not found at configure time (Debian libnss-wrapper)";
    return "";
}

void pam_site::add_service(const std::string &name, const std::string &lines) const
{
    test_support::write_file(dir_.file("pam.d/" + name), lines);
}

void pam_site::write_config(const std::string &text) const
{
    test_support::write_file(dir_.file("quelmarauth.conf"), text);
}

void pam_site::write_accounts(const std::string &passwd) const
{
    std::string group;
    for (std::size_t start = 0; start < passwd.size();) {
        const std::size_t end = passwd.find('\n', start);
        const std::string line = passwd.substr(start, end - start);
        const std::size_t name_end = line.find(':');
        const std::size_t gid_start = line.find(':', line.find(':', name_end + 1) + 1) + 1;
        const std::string gid = line.substr(gid_start, line.find(':', gid_start) - gid_start);
        group += line.substr(0, name_end) + ":x:" + gid + ":\n";
        start = end == std::string::npos ? passwd.size() : end + 1;
    }
    test_support::nss_files_env(dir_.file("passwd"), passwd, dir_.file("group"), group);
}

std::vector<std::string> pam_site::env() const
{
    std::vector<std::string> env =
        test_support::preload_env({PAM_WRAPPER_LIBRARY, test_support::nss_wrapper_library()});
    env.insert(env.end(), {
                              "PAM_WRAPPER=1",
                              "PAM_WRAPPER_SERVICE_DIR=" + dir_.file("pam.d"),
                              // pam_wrapper's RTLD_DEEPBIND clashes with the
                              // sanitizer runtime; without sanitizers it does not matter.
                              "UID_WRAPPER_DISABLE_DEEPBIND=1",
                              "NSS_WRAPPER_PASSWD=" + dir_.file("passwd"),
                              "NSS_WRAPPER_GROUP=" + dir_.file("group"),
                              "QUELMARAUTH_CONFIG=" + dir_.file("quelmarauth.conf"),
                          });
    return env;
}

test_support::run_options pam_site::run(const std::vector<std::string> &args, const std::string &input,
                                        const std::vector<std::string> &extra_env) const
{
    test_support::run_options options;
    options.argv = {PROGRAM};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env();
    options.env.insert(options.env.end(), extra_env.begin(), extra_env.end());
    // The super-server's variables of the test's own environment stay out.
    options.unset_env = {"TCPREMOTEIP", "REMOTE_HOST", "REMOTE_ADDR"};
    options.input = input;
    return options;
}

} // namespace pam_test
