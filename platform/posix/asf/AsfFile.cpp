#include "platform/posix/asf/AsfFile.h"

#include "platform/posix/win/files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tw::posix::asf {

namespace {
// Packets are pushed to the system in blocks of about this size, and at the latest on flush(),
// which the recorder calls about once a second of media.
constexpr size_t kBlock = 64 * 1024;
}

HRESULT hresult_from_errno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOSPC:
    case EDQUOT: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case EBUSY:
    case ETXTBSY: return HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
    case ENAMETOOLONG: return HRESULT_FROM_WIN32(206u);  // ERROR_FILENAME_EXCED_RANGE
    case EINVAL: return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    case ENOMEM: return E_OUTOFMEMORY;
    default: return HRESULT_FROM_WIN32(29u);  // ERROR_WRITE_FAULT
    }
}

AsfFile::~AsfFile() { close(); }

void AsfFile::close() {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
    fd_ = -1;
}

HRESULT AsfFile::create(const std::string &path) {
    close();
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    // Through CreateFile, so that a file another handle reads without sharing writes (the
    // recording's own source, say) fails with ERROR_SHARING_VIOLATION before it is truncated.
    // Readers may look at the file while it grows.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    handle_ = h;
    fd_ = fd_from_handle(h);
    pending_.clear();
    pending_packets_ = on_disk_ = 0;
    return S_OK;
}

HRESULT AsfFile::write_all(const uint8_t *p, size_t n) {
    while (n) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return hresult_from_errno(errno);
        }
        if (w == 0) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        p += w;
        n -= size_t(w);
    }
    return S_OK;
}

HRESULT AsfFile::write_header(const Bytes &header) {
    if (fd_ < 0) return E_UNEXPECTED;
    header_size_ = header.size();
    return write_all(header.data(), header.size());
}

HRESULT AsfFile::write_packet(const uint8_t *data, size_t size) {
    if (fd_ < 0) return E_UNEXPECTED;
    packet_size_ = size;
    pending_.insert(pending_.end(), data, data + size);
    ++pending_packets_;
    return pending_.size() >= kBlock ? flush() : S_OK;
}

HRESULT AsfFile::flush() {
    if (fd_ < 0) return E_UNEXPECTED;
    if (pending_.empty()) return S_OK;
    HRESULT hr = write_all(pending_.data(), pending_.size());
    if (SUCCEEDED(hr)) on_disk_ += pending_packets_;
    pending_.clear();
    pending_packets_ = 0;
    return hr;
}

HRESULT AsfFile::finish(const std::function<Bytes(uint64_t, uint64_t)> &make_header, const Bytes &index) {
    if (fd_ < 0) return E_UNEXPECTED;
    HRESULT hr = S_OK;
    // After a failed write, part of a block may be on disk: keep whole packets only.
    off_t end = off_t(header_size_ + on_disk_ * packet_size_);
    if (::ftruncate(fd_, end) != 0) hr = hresult_from_errno(errno);
    off_t file_size = end;
    if (!index.empty() && ::lseek(fd_, end, SEEK_SET) == end) {
        HRESULT ih = write_all(index.data(), index.size());
        if (SUCCEEDED(ih)) {
            file_size += off_t(index.size());
        } else {
            // An index that does not fit is dropped whole: readers then seek without one.
            if (::ftruncate(fd_, end) != 0) {}
            if (SUCCEEDED(hr)) hr = ih;
        }
    }
    // The final header has the provisional one's size, so it needs no new space on disk.
    Bytes header = make_header(uint64_t(file_size), on_disk_);
    if (header.size() != header_size_) {
        close();
        return E_UNEXPECTED;
    }
    size_t done = 0;
    while (done < header.size()) {
        ssize_t w = ::pwrite(fd_, header.data() + done, header.size() - done, off_t(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (SUCCEEDED(hr)) hr = w < 0 ? hresult_from_errno(errno) : E_FAIL;
            break;
        }
        done += size_t(w);
    }
    close();
    return hr;
}

}  // namespace tw::posix::asf
