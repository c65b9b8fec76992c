// A poppassd client over TCP on the loopback, as a real one would talk.
#pragma once

// A port on 127.0.0.1 that was free a moment ago; 0 if none was found.
unsigned free_loopback_port();

// Waits up to 5 s until something accepts connections on port.
bool wait_for_listener(unsigned port);

// One whole dialogue on a new connection: user, pass, newpass, quit. True
// only if every reply was a "200" and the change was reported.
bool change_over_tcp(unsigned port, const char *user, const char *old_password,
                     const char *new_password);
