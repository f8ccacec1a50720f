// A fresh folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The folder's path with a trailing backslash.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
