#include "json/ql_request_data_serializer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "json/ql_request_data.h"
#include "libjson/json.h"

QLRequestDataSerializer::QLJsonMemoryStruct::QLJsonMemoryStruct()
    : buffer(static_cast<char*>(std::malloc(1))), size(0) {
  if (buffer) buffer[0] = '\0';
}

QLRequestDataSerializer::QLJsonMemoryStruct::~QLJsonMemoryStruct() {
  if (buffer) std::free(buffer);
}

std::string QLRequestDataSerializer::ToJsonString(QLRequestData* data) {
  if (data == nullptr) return "{ }";
  QLJsonMemoryStruct memory;
  json_printer printer;
  if (json_print_init(&printer, &QLRequestDataSerializer::JsonPrinterCallback, &memory) != 0) {
    return "{ }";
  }
  data->Fields().Serialize(&printer, std::string());
  // The printer stops at its first output failure, so the collected text is
  // either whole or must not be used at all.
  bool failed = printer.error != 0;
  json_print_free(&printer);
  if (failed || memory.buffer == nullptr) return std::string();
  return std::string(memory.buffer, memory.size);
}

std::string QLRequestDataSerializer::ToUrlString(QLRequestData* data) {
  if (data == nullptr) return std::string();
  return data->ToUrlString();
}

int QLRequestDataSerializer::JsonPrinterCallback(void* userdata, char const* text,
                                                 unsigned int length) {
  QLJsonMemoryStruct* memory = static_cast<QLJsonMemoryStruct*>(userdata);
  if (memory == nullptr || memory->buffer == nullptr) return -1;
  if (length == 0) return 0;
  if (text == nullptr) return -1;
  // The count is an unsigned int; refuse growth that would wrap it.
  if (length > UINT_MAX - 1 - memory->size) {
    std::free(memory->buffer);
    memory->buffer = nullptr;
    memory->size = 0;
    return -1;
  }
  size_t needed = static_cast<size_t>(memory->size) + length + 1;
  char* grown = static_cast<char*>(std::realloc(memory->buffer, needed));
  if (grown == nullptr) {
    // Drop the partial text instead of leaking it: a torn JSON text is of no
    // use to anyone.
    std::free(memory->buffer);
    memory->buffer = nullptr;
    memory->size = 0;
    return -1;
  }
  memory->buffer = grown;
  std::memcpy(memory->buffer + memory->size, text, length);
  memory->size += length;
  memory->buffer[memory->size] = '\0';
  return 0;
}
