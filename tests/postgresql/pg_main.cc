// pg_main.cc: one PostgreSQL server for the whole test program, started
// before the first test and stopped after the last, failures or not.
#include <gtest/gtest.h>

#include <memory>

#include "pg_site.h"

namespace pg_test {

namespace {

std::unique_ptr<pg_server> &server_slot()
{
    static std::unique_ptr<pg_server> server;
    return server;
}

class server_environment : public testing::Environment {
  public:
    // Started by the first test that needs it (a listing needs none).
    void TearDown() override { server_slot().reset(); }
};

} // namespace

pg_server &shared_server()
{
    if (server_slot() == nullptr)
        server_slot() = std::make_unique<pg_server>();
    return *server_slot();
}

} // namespace pg_test

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new pg_test::server_environment);
    return RUN_ALL_TESTS();
}
