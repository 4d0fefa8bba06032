// Deleter for buffers made with array new and held by boost::shared_ptr.
#ifndef QUORLIN_BASE_QL_ARRAY_DELETER_H_
#define QUORLIN_BASE_QL_ARRAY_DELETER_H_

template <typename T>
struct arrayDeleter {
  void operator()(T* p) const { delete[] p; }
};

#endif  // QUORLIN_BASE_QL_ARRAY_DELETER_H_
