// SPDX-License-Identifier: GPL-2.0-or-later
// Spool files of the virtual printer and their mappings.
#include "job_spool.h"

#include "write_all.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace varkon {
namespace {

std::string failure(const char *what, const std::string &path)
{
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

} // namespace

std::string JobSpool::open_named(const std::string &path)
{
    fd_.reset(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd_.valid())
        return failure("create", path);
    path_ = path;
    return {};
}

std::string JobSpool::open_temporary()
{
    const char *base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/varkon-virtual-printer-XXXXXX";
    fd_.reset(mkostemp(name.data(), O_CLOEXEC));
    if (!fd_.valid())
        return failure("create a spool file like", name);
    unlink(name.c_str());
    return {};
}

std::string JobSpool::append(const unsigned char *data, size_t size)
{
    if (write_all(fd_.get(), data, size) != size)
        return failure("write", path_.empty() ? std::string("the spool file") : path_);
    size_ += size;
    return {};
}

void JobSpool::discard()
{
    if (!path_.empty())
        unlink(path_.c_str());
    fd_.reset();
    path_.clear();
    size_ = 0;
}

MappedFile::~MappedFile()
{
    if (data_)
        munmap(data_, size_);
}

std::string MappedFile::map(int fd, uint64_t size)
{
    if (size == 0)
        return {};
    if (size > SIZE_MAX)
        return "the job is too large to map";
    void *data = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED)
        return std::string("cannot map the job: ") + std::strerror(errno);
    if (data_)
        munmap(data_, size_);
    data_ = data;
    size_ = static_cast<size_t>(size);
    return {};
}

} // namespace varkon
