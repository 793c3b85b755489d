#pragma once
// TFileDescriptor: owns a file descriptor (a file, folder, pipe or socket) and closes it when it
// goes; -1 holds nothing.
//
// Threads: an object is used by one thread at a time.
#include <unistd.h>

class TFileDescriptor {
public:
  explicit TFileDescriptor(int fd = -1) : fd_(fd) {}
  ~TFileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};
