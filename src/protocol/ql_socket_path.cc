#include "protocol/ql_socket_path.h"

char const* DefaultSocketPath() { return QL_DEFAULT_SOCKET_PATH; }
