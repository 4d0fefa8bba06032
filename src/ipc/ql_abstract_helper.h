// The command-helper interface: what the socket server hands each received
// message to.
//
// One helper object serves every connection, so ProcessCommand runs on many
// worker threads at once; implementations guard their own shared state.
#ifndef QUORLIN_IPC_QL_ABSTRACT_HELPER_H_
#define QUORLIN_IPC_QL_ABSTRACT_HELPER_H_

#include <boost/shared_ptr.hpp>
#include <string>

class QLProcessHelperSocket;

class QLAbstractHelper {
 public:
  virtual ~QLAbstractHelper() {}
  // Prepares the helper before serving; false stops the process from serving.
  virtual bool InitHelper() = 0;
  // Handles one received message of `length` bytes (not NUL-terminated) and
  // sends any reply on `socket` itself. The caller ignores the result.
  virtual bool ProcessCommand(boost::shared_ptr<unsigned char> const& message, unsigned int length,
                              boost::shared_ptr<QLProcessHelperSocket> socket) = 0;
  // One line on how the helper is doing, for a service manager's status
  // display; any thread may call. Empty when the helper has nothing to say.
  virtual std::string StatusText() const { return std::string(); }
};

#endif  // QUORLIN_IPC_QL_ABSTRACT_HELPER_H_
