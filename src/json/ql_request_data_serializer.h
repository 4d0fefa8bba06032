// Prints QLRequestData as JSON text through the libjson printer, or as a URL
// query.
//
// Contract: static operations only. Each ToJsonString call owns its printer
// and its QLJsonMemoryStruct for the length of the call; any thread may call
// it for data that thread owns.
#ifndef QUORLIN_JSON_QL_REQUEST_DATA_SERIALIZER_H_
#define QUORLIN_JSON_QL_REQUEST_DATA_SERIALIZER_H_

#include <boost/noncopyable.hpp>
#include <string>

class QLRequestData;

class QLRequestDataSerializer {
 public:
  // Collects printer output. `buffer` is malloc'ed (one byte at
  // construction) and always NUL-terminated after `size` bytes while it
  // exists; once growing it fails it is released and stays null, and no
  // further output is taken.
  class QLJsonMemoryStruct : private boost::noncopyable {
   public:
    QLJsonMemoryStruct();
    virtual ~QLJsonMemoryStruct();

    char* buffer;
    unsigned int size;
  };

  // The data's fields as one JSON object. "{ }" when the printer cannot be
  // set up; an empty string when the output could not be collected whole
  // (never a truncated text). Null data gives "{ }".
  static std::string ToJsonString(QLRequestData* data);
  // The data's ToUrlString(); empty for null data.
  static std::string ToUrlString(QLRequestData* data);

  // Printer output function; `userdata` is a QLJsonMemoryStruct. Appends the
  // bytes and returns 0, or returns -1 when the buffer cannot grow.
  static int JsonPrinterCallback(void* userdata, char const* text, unsigned int length);
};

#endif  // QUORLIN_JSON_QL_REQUEST_DATA_SERIALIZER_H_
