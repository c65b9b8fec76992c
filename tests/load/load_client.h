// load_client.h: one connection of the soak, of one kind, checking every
// reply it reads byte for byte.
#ifndef ZEMBROVALD_TESTS_LOAD_CLIENT_H
#define ZEMBROVALD_TESTS_LOAD_CLIENT_H

#include <mutex>
#include <random>
#include <string>

#include "load_run.h"

namespace load {

// An account as the clients know it: the password its last acknowledged
// change set. A client holds lock for its whole connection, so that the
// password it knows is the one the store holds.
struct account_state {
    std::string name;
    std::string password;
    unsigned generation = 0; // makes every new password one never used before
    std::mutex lock;
};

struct connection_outcome {
    int port = 0;                   // the client's own port; 0 if it never connected
    int expected_status = 1;        // the program's exit status this client expects
    std::string fault;              // empty when every reply was the one expected
    bool acknowledged = false;      // "200 Password changed" arrived: the new password stands
    std::string new_password;       // the one sent, for the acknowledged and the unanswered
    bool unanswered_change = false; // hung up after sending it: may or may not stand
};

// account: the account the kind works on (locked by the caller), or null
// for the kinds that need none.
connection_outcome run_connection(int server_port, client_kind kind, account_state *account,
                                  std::mt19937 &random);

// Whether the kind changes or may change the account's password, so needs
// one held for the connection.
bool needs_account(client_kind kind);

} // namespace load

#endif
