// SPDX-License-Identifier: GPL-2.0-or-later
// Where a job's bytes go while they arrive: DIR/job-0001.prn, or an unlinked
// temporary file when no output folder is kept. The whole job is then mapped
// for the decoder, so that a large job is read from the page cache and does
// not sit on the heap.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace varkon {

// Each call returns an empty string on success, else what went wrong.
class JobSpool {
public:
    JobSpool() = default;
    JobSpool(const JobSpool &) = delete;
    JobSpool &operator=(const JobSpool &) = delete;

    // A new file at `path`; an existing one is never overwritten.
    std::string open_named(const std::string &path);
    // A file in TMPDIR (or /tmp) that is gone from the folder as soon as it exists.
    std::string open_temporary();
    std::string append(const unsigned char *data, size_t size);
    // Removes a named file and closes the spool: the job is not kept.
    void discard();

    int fd() const { return fd_.get(); }
    uint64_t size() const { return size_; }
    const std::string &path() const { return path_; }

private:
    UniqueFd fd_;
    std::string path_;  // empty for a temporary spool
    uint64_t size_ = 0;
};

// A read-only mapping of a whole spool file, unmapped on destruction.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    std::string map(int fd, uint64_t size);
    const unsigned char *data() const { return static_cast<const unsigned char *>(data_); }
    size_t size() const { return size_; }

private:
    void *data_ = nullptr;
    size_t size_ = 0;
};

} // namespace varkon
