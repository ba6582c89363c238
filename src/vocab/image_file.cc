// Image files: opened only when they are regular files of a size to trust,
// and read with pread straight into the record's arrays.

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "vocab/image.h"

namespace velkan {

ImageFile::~ImageFile() {
  if (fd >= 0) ::close(fd);
}

ImageFile::ImageFile(ImageFile&& other) noexcept : fd(other.fd), size(other.size) { other.fd = -1; }

std::optional<ImageFile> open_image_file(const std::string& path) {
  // Only a regular file will do. Opened without O_NONBLOCK, a FIFO would block
  // until some writer came, and a directory or device has no size to trust.
  ImageFile file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0) return std::nullopt;
  struct stat info;
  if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (info.st_size <= 0 || info.st_size > INT32_MAX) return std::nullopt;
  file.size = static_cast<uint64_t>(info.st_size);
  return file;
}

bool image_file_read(const ImageFile& file, uint64_t offset, void* out, size_t n) {
  if (offset > file.size || n > file.size - offset) return false;
  auto* p = static_cast<uint8_t*>(out);
  while (n != 0) {
    const ssize_t got =
        ::pread(file.fd, p, std::min<size_t>(n, size_t{1} << 30), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank
    p += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace velkan
