// Socket activation: a service manager that opened the listening socket
// itself hands it over as descriptor 3 with LISTEN_FDS and LISTEN_PID.
//
// Contract: called once, on the main thread, before any other thread could
// read the environment or start a child; it removes the LISTEN_* variables so
// no child process takes them for its own. Ownership of a returned descriptor
// passes to the caller (it is close-on-exec).
#ifndef QUORLIN_MAIN_QL_SOCKET_ACTIVATION_H_
#define QUORLIN_MAIN_QL_SOCKET_ACTIVATION_H_

enum class QLActivation {
  kNone,       // nothing passed (or passed to another process): bind as usual
  kListening,  // *fd holds a listening local stream socket to serve
  kUnusable,   // something was passed but it is not such a socket (logged)
};

QLActivation TakeActivatedSocket(int* fd);

#endif  // QUORLIN_MAIN_QL_SOCKET_ACTIVATION_H_
