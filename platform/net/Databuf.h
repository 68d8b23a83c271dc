// Byte buffers handed to a session server's XDR callback.
//
// CAutoMemory is a pointer, a size and an owns flag: Release() deletes the
// array when it is owned and always leaves pointer and size zero, so
// releasing twice is harmless. It cannot be copied (two owners would free the
// array twice). znsDatabuf_v2 is what the XDR callback receives: the callback
// owns it, and deleting it releases the bytes.
#pragma once

#include <stddef.h>

template <class T>
struct CAutoMemory {
  T* ptr = nullptr;
  size_t size = 0;
  bool owns = false;

  CAutoMemory() = default;
  CAutoMemory(const CAutoMemory&) = delete;
  CAutoMemory& operator=(const CAutoMemory&) = delete;
  ~CAutoMemory() { Release(); }

  void Release() {
    if (owns) delete[] ptr;
    ptr = nullptr;
    size = 0;
    owns = false;
  }

  // Releases what is held, then holds an owned copy of count elements.
  void AssignCopy(const T* from, size_t count) {
    Release();
    if (count == 0) return;
    ptr = new T[count];
    size = count;
    owns = true;
    for (size_t i = 0; i < count; ++i) ptr[i] = from[i];
  }
};

struct znsDatabuf_v2 {
  CAutoMemory<char> data;
};
