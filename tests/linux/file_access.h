// Makes file permissions bind the calling thread even when it runs as root.
#pragma once

namespace torvane::test {

// Clears CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from the calling thread's effective set while
// it lives, so that a node without permissions is refused as it is for a user; threads started
// meanwhile inherit the narrower set.
class FilePermissionsBind {
public:
    FilePermissionsBind();
    ~FilePermissionsBind();
    FilePermissionsBind(const FilePermissionsBind&) = delete;
    FilePermissionsBind& operator=(const FilePermissionsBind&) = delete;

private:
    unsigned effective_[2] = {0, 0};
    bool changed_ = false;
};

}  // namespace torvane::test
