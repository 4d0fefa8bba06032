// The path of the local stream socket the daemon serves on and every caller
// connects to unless told otherwise.
//
// Contract: a constant of the build (CMake's QL_DEFAULT_SOCKET_PATH, also
// written to <build>/ql_protocol.env for scripts); the pointer is to static
// storage and never freed. Any thread may call it at any time.
#ifndef QUORLIN_PROTOCOL_QL_SOCKET_PATH_H_
#define QUORLIN_PROTOCOL_QL_SOCKET_PATH_H_

char const* DefaultSocketPath();

#endif  // QUORLIN_PROTOCOL_QL_SOCKET_PATH_H_
