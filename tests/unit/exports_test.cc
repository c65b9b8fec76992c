// The shared library exports the three calls and nothing else, and loads no
// shared library that would slow down every start of the program; a store
// module exports its one entry and brings its own dependencies.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

struct pipe_closer {
    void operator()(std::FILE *pipe) const { ::pclose(pipe); }
};

std::string output_of(const std::string &command)
{
    std::unique_ptr<std::FILE, pipe_closer> pipe(::popen(command.c_str(), "r"));
    std::string output;
    if (!pipe)
        return output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0)
        output.append(chunk, got);
    return output;
}

std::set<std::string> exported_names(const std::string &listing)
{
    std::set<std::string> names;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string name = line.substr(line.rfind(' ') + 1);
        names.insert(name.substr(0, name.find('@')));
    }
    return names;
}

TEST(SharedLibrary, ExportsExactlyTheThreeCalls)
{
    const std::string listing = output_of(std::string("nm -D --defined-only ") + QUELMARAUTH_SHARED_LIBRARY);
    const std::set<std::string> names = exported_names(listing);
    EXPECT_EQ((std::set<std::string>{"QUELMARAUTH_1.0", "auth_getuserinfo", "auth_login", "auth_passwd"}), names)
        << listing;
}

TEST(SharedLibrary, NeedsNoExtraSharedLibraries)
{
    const std::string dynamic = output_of(std::string("readelf -d ") + QUELMARAUTH_SHARED_LIBRARY);
    ASSERT_NE(std::string::npos, dynamic.find("(NEEDED)")) << dynamic;
    EXPECT_EQ(std::string::npos, dynamic.find("libcrypt")) << "libcrypt is opened on first use\n" << dynamic;
    EXPECT_EQ(std::string::npos, dynamic.find("libinih")) << dynamic;
    EXPECT_EQ(std::string::npos, dynamic.find("libpam")) << "only the pam module links libpam\n" << dynamic;
    EXPECT_EQ(std::string::npos, dynamic.find("libdl")) << dynamic;
    if (QUELMARAUTH_STATIC_RUNTIME) {
        EXPECT_EQ(std::string::npos, dynamic.find("libstdc++")) << dynamic;
        EXPECT_EQ(std::string::npos, dynamic.find("libgcc_s")) << dynamic;
    }
    EXPECT_NE(std::string::npos, dynamic.find("SONAME") ) << dynamic;
    EXPECT_NE(std::string::npos, dynamic.find("libquelmarauth.so.1]")) << dynamic;
}

TEST(StoreModule, PamExportsOnlyItsEntry)
{
    const std::string listing = output_of(std::string("nm -D --defined-only ") + QUELMARAUTH_PAM_MODULE);
    EXPECT_EQ((std::set<std::string>{"quelmarauth_get_store_module"}), exported_names(listing)) << listing;
    const std::string dynamic = output_of(std::string("readelf -d ") + QUELMARAUTH_PAM_MODULE);
    EXPECT_NE(std::string::npos, dynamic.find("[libpam.so.0]")) << dynamic;
    if (QUELMARAUTH_STATIC_RUNTIME) {
        EXPECT_EQ(std::string::npos, dynamic.find("libstdc++")) << dynamic;
        EXPECT_EQ(std::string::npos, dynamic.find("libgcc_s")) << dynamic;
    }
}

// Where the library looks for it: lib/quelmarauth/ beside the library.
TEST(StoreModule, PamSitsBesideTheLibrary)
{
    const std::string library = QUELMARAUTH_SHARED_LIBRARY;
    const std::string module = QUELMARAUTH_PAM_MODULE;
    EXPECT_EQ(library.substr(0, library.rfind('/')) + "/quelmarauth/pam.so", module);
}

} // namespace
