#include "platform/posix/media/Demuxer.h"

#include "platform/posix/diagnostics.h"
#include "platform/posix/win/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw::posix::media {

using namespace std::chrono;

// ---- FFmpeg helpers shared by the media filters.

std::string av_error_text(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

// Network and I/O failures, shared by opening and streaming; 0 when `err` is none of them.
static HRESULT network_hresult(int err) {
    switch (err) {
    case AVERROR(ECONNREFUSED): return HRESULT_FROM_WIN32(kWsaConnRefused);
    case AVERROR(ETIMEDOUT):
    case AVERROR(ENETUNREACH):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ENETDOWN):
    case AVERROR(EHOSTDOWN): return HRESULT_FROM_WIN32(kWsaTimedOut);
    case AVERROR(ECONNRESET):
    case AVERROR(ECONNABORTED):
    case AVERROR(EPIPE): return HRESULT_FROM_WIN32(kWsaConnReset);
    case AVERROR_HTTP_NOT_FOUND: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case AVERROR_HTTP_FORBIDDEN:
    case AVERROR_HTTP_UNAUTHORIZED: return E_ACCESSDENIED;
    default: return 0;
    }
}

HRESULT hresult_from_av(int err) {
    if (err >= 0) return S_OK;
    if (HRESULT hr = network_hresult(err)) return hr;
    switch (err) {
    case AVERROR_EXIT: return E_ABORT;
    case AVERROR(ENOMEM): return E_OUTOFMEMORY;
    case AVERROR_INVALIDDATA:
    case AVERROR_BUG:
    case AVERROR_EOF: return VFW_E_INVALID_FILE_FORMAT;
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_PATCHWELCOME: return VFW_E_UNSUPPORTED_STREAM;
    default: return E_FAIL;
    }
}

// ---- Interrupt

void Interrupt::arm(steady_clock::duration d) {
    deadline_ = (steady_clock::now() + d).time_since_epoch().count();
}

int Interrupt::check(void *self) {
    auto *me = static_cast<Interrupt *>(self);
    if (me->aborted_) return 1;
    if (me->external_ && me->external_()) {
        me->aborted_ = true;
        return 1;
    }
    int64_t dl = me->deadline_;
    if (dl != 0 && steady_clock::now().time_since_epoch().count() > dl) {
        me->timed_out_ = true;
        return 1;
    }
    return 0;
}

// ---- Source strings

std::string scheme_of(const std::string &source) {
    size_t p = source.find("://");
    if (p == std::string::npos || p < 2) {  // "C:\..." and "C://" are paths, not URLs
        if (source.compare(0, 5, "file:") == 0) return "file";
        return "";
    }
    std::string s = source.substr(0, p);
    for (char &c : s) {
        if (!(isalnum((unsigned char)c) || c == '+' || c == '-' || c == '.')) return "";
        c = (char)tolower((unsigned char)c);
    }
    return isalpha((unsigned char)s[0]) ? s : "";
}

std::string local_path_of(const std::string &source) {
    std::string scheme = scheme_of(source);
    if (scheme.empty()) return source;
    if (scheme != "file") return "";
    std::string rest = source.substr(5);
    if (rest.compare(0, 2, "//") == 0) rest = rest.substr(2);  // file:///abs -> /abs
    return rest;
}

// The Windows result for a local path that cannot be opened, decided from the file system
// as CreateFile would see it; S_OK when the path names a readable regular file.
static HRESULT local_path_result(const std::string &path) {
    struct stat st;
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return E_ACCESSDENIED;
        // Opening a FIFO to try it would wait for its writer; its permission bits tell enough.
        if (!S_ISREG(st.st_mode)) return access(path.c_str(), R_OK) == 0 ? S_OK : E_ACCESSDENIED;
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) return errno == EACCES || errno == EPERM ? E_ACCESSDENIED : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        fclose(f);
        return S_OK;
    }
    if (errno == EACCES) return E_ACCESSDENIED;
    if (errno == ENAMETOOLONG) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    if (errno == ENOTDIR) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    // Missing: the file itself, or a directory on the way to it.
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    std::string dir = path.substr(0, slash);
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
}

// ---- Reading a file through its handle

namespace {

constexpr int kFileBufferSize = 32768;

int read_file(void *opaque, uint8_t *buf, int size) {
    const int fd = *static_cast<const int *>(opaque);
    ssize_t n;
    do {
        n = ::read(fd, buf, size_t(size));
    } while (n < 0 && errno == EINTR);
    if (n == 0) return AVERROR_EOF;
    return n < 0 ? AVERROR(errno) : int(n);
}

int64_t seek_file(void *opaque, int64_t offset, int whence) {
    const int fd = *static_cast<const int *>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t r = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : int64_t(r);
}

}  // namespace

// ---- Demuxer

Demuxer::~Demuxer() { close(); }

HRESULT Demuxer::open_local_file(const std::string &path, AVDictionary **opts) {
    // Read-only sharing, as a source file is opened on Windows: while this demuxer holds the
    // file, nothing in the process can open it for writing or truncate it (a recording of the
    // file onto itself, say).
    file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        file_ = nullptr;
        return HRESULT_FROM_WIN32(GetLastError());
    }
    file_fd_ = fd_from_handle(file_);
    AVIOContext *pb = nullptr;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kFileBufferSize));
    if (buffer) pb = avio_alloc_context(buffer, kFileBufferSize, 0, &file_fd_, read_file, nullptr, seek_file);
    if (!pb) {
        av_free(buffer);
        return E_OUTOFMEMORY;  // the handle is closed by close()
    }
    return open_with_probe(path, opts, pb);
}

void Demuxer::close() {
    if (ctx_) avformat_close_input(&ctx_);
    free_io(&own_pb_);
    if (file_) CloseHandle(file_);
    file_ = nullptr;
    file_fd_ = -1;
    media_streams_.clear();
    start_time_ = 0;
    duration_ = 0;
    seekable_ = false;
}

// A context of our own (over the file handle or a pipe's descriptor) is freed with its buffer;
// the handle stays until close(), the pipe's descriptor goes with it.
void Demuxer::free_io(AVIOContext **pb) {
    if (!*pb) return;
    if (stream_fd_ < 0 && !file_) {
        avio_closep(pb);
        return;
    }
    av_freep(&(*pb)->buffer);
    avio_context_free(pb);
    if (stream_fd_ >= 0) ::close(stream_fd_);
    stream_fd_ = -1;
}

// Reads a pipe or device opened non-blocking: waits for data in short polls, between which
// the interrupt is asked, so that neither a FIFO without a writer nor a writer that stalls can
// hold the caller beyond an abort. End of data is reported only after poll said readable: a
// FIFO opened before its writer reads as empty until the writer comes.
int Demuxer::read_stream_file(void *self, uint8_t *buf, int size) {
    auto *me = static_cast<Demuxer *>(self);
    AVIOInterruptCB cb = me->interrupt_.callback();
    for (;;) {
        if (cb.callback(cb.opaque)) return AVERROR_EXIT;
        pollfd p{me->stream_fd_, POLLIN, 0};
        int n = poll(&p, 1, 50);
        if (n < 0 && errno != EINTR) return AVERROR(errno);
        if (n <= 0) continue;
        ssize_t got = ::read(me->stream_fd_, buf, static_cast<size_t>(size));
        if (got > 0) return static_cast<int>(got);
        if (got == 0) return AVERROR_EOF;
        if (errno != EAGAIN && errno != EINTR) return AVERROR(errno);
    }
}

HRESULT Demuxer::open_error(int err, int probe_score) const {
    if (err == AVERROR_EXIT) return interrupt_.timed_out() && !interrupt_.aborted() ? HRESULT_FROM_WIN32(kWsaTimedOut)
                                                                                    : E_ABORT;
    if (HRESULT hr = network_hresult(err)) return hr;
    switch (err) {
    case AVERROR(ENOENT): return local_path_.empty() ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
                                                     : local_path_result(local_path_);
    case AVERROR(EACCES):
    case AVERROR(EPERM): return E_ACCESSDENIED;
    case AVERROR(ENOMEM): return E_OUTOFMEMORY;
    case AVERROR_PROTOCOL_NOT_FOUND: return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    // Name resolution failures come back from the TCP layer as EIO.
    case AVERROR(EIO): return network_ ? HRESULT_FROM_WIN32(kWsaHostNotFound) : VFW_E_INVALID_FILE_FORMAT;
    default: break;
    }
    // Anything else means the data could not be read as media: a container the probe was
    // sure of is broken, data it was not sure of is of an unknown type.
    return probe_score > AVPROBE_SCORE_RETRY ? VFW_E_INVALID_FILE_FORMAT : VFW_E_UNKNOWN_FILE_TYPE;
}

HRESULT Demuxer::open(const std::string &url, const DemuxerOptions &options) {
    route_library_diagnostics();  // FFmpeg prints nothing on its own
    close();
    options_ = options;
    url_ = url;
    local_path_ = local_path_of(url);
    std::string scheme = scheme_of(url);
    network_ = local_path_.empty();
    interrupt_.clear();

    bool stream_file = false;
    if (!local_path_.empty()) {
        if (HRESULT hr = local_path_result(local_path_); FAILED(hr)) return hr;
        struct stat st;
        if (stat(local_path_.c_str(), &st) == 0) {
            stream_file = !S_ISREG(st.st_mode);
            if (!stream_file && st.st_size == 0) return VFW_E_UNKNOWN_FILE_TYPE;
        }
    }

    AVDictionary *opts = nullptr;
    std::string timeout_us = std::to_string(duration_cast<microseconds>(options_.network_timeout).count());
    if (network_) {
        av_dict_set(&opts, "rw_timeout", timeout_us.c_str(), 0);
        if (scheme == "rtsp" || scheme == "rtsps") av_dict_set(&opts, "timeout", timeout_us.c_str(), 0);
    }

    HRESULT hr;
    if (scheme == "mms") {
        // Windows Media servers are reached over HTTP streaming first, then MMS over TCP,
        // as Windows Media Player does for mms:// URLs.
        std::string rest = url.substr(3);
        hr = open_with_probe("mmsh" + rest, &opts);
        if (FAILED(hr) && hr != E_ABORT) {
            close();
            hr = open_with_probe("mmst" + rest, &opts);
        }
    } else if (stream_file) {
        hr = open_stream_file(local_path_, &opts);
    } else if (!local_path_.empty()) {
        hr = open_local_file(local_path_, &opts);
    } else if (avio_find_protocol_name(url.c_str())) {
        hr = open_with_probe(url, &opts);
    } else {
        hr = open_direct(url, &opts);  // demuxers that do their own I/O (rtsp, sdp, ...)
    }
    av_dict_free(&opts);
    interrupt_.disarm();
    if (FAILED(hr)) close();
    return hr;
}

// A FIFO, character device or socket: FFmpeg's file protocol would block in open() until a
// FIFO has a writer, and in read() while it stalls, where no interrupt reaches. Opened
// non-blocking (which never waits) and read through read_stream_file instead.
HRESULT Demuxer::open_stream_file(const std::string &path, AVDictionary **opts) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EPERM ? E_ACCESSDENIED : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    constexpr int kBufferSize = 32768;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    AVIOContext *pb = buffer ? avio_alloc_context(buffer, kBufferSize, 0, this, &Demuxer::read_stream_file, nullptr,
                                                  nullptr)
                             : nullptr;
    if (!pb) {
        av_free(buffer);
        ::close(fd);
        return E_OUTOFMEMORY;
    }
    pb->seekable = 0;
    stream_fd_ = fd;
    return open_with_probe(path, opts, pb);
}

// Opens the byte stream ourselves (unless `pb` is given) and probes it, so that "no demuxer
// recognises this" and "the demuxer that recognised it cannot read it" can be told apart.
HRESULT Demuxer::open_with_probe(const std::string &target, AVDictionary **opts, AVIOContext *pb) {
    AVIOInterruptCB cb = interrupt_.callback();
    if (network_) interrupt_.arm(options_.network_timeout);
    if (!pb) {
        AVDictionary *io_opts = nullptr;
        av_dict_copy(&io_opts, *opts, 0);
        int err = avio_open2(&pb, target.c_str(), AVIO_FLAG_READ, &cb, &io_opts);
        av_dict_free(&io_opts);
        if (err < 0) return open_error(err, 0);
    }

    const AVInputFormat *fmt = nullptr;
    int score = av_probe_input_buffer2(pb, &fmt, target.c_str(), nullptr, 0, 0);
    if (score < 0) {
        free_io(&pb);
        if (score == AVERROR_EXIT || network_hresult(score)) return open_error(score, 0);
        return VFW_E_UNKNOWN_FILE_TYPE;
    }

    ctx_ = avformat_alloc_context();
    if (!ctx_) {
        free_io(&pb);
        return E_OUTOFMEMORY;
    }
    ctx_->pb = pb;
    ctx_->flags |= AVFMT_FLAG_CUSTOM_IO;
    ctx_->interrupt_callback = cb;
    int err = avformat_open_input(&ctx_, target.c_str(), fmt, opts);
    if (err < 0) {  // ctx_ is freed by avformat_open_input on failure
        ctx_ = nullptr;
        free_io(&pb);
        return open_error(err, score);
    }
    // avformat_close_input leaves custom I/O alone; close() closes it after the context.
    own_pb_ = pb;
    return finish_open(score);
}

HRESULT Demuxer::open_direct(const std::string &target, AVDictionary **opts) {
    ctx_ = avformat_alloc_context();
    if (!ctx_) return E_OUTOFMEMORY;
    ctx_->interrupt_callback = interrupt_.callback();
    if (network_) interrupt_.arm(options_.network_timeout);
    int err = avformat_open_input(&ctx_, target.c_str(), nullptr, opts);
    if (err < 0) {
        ctx_ = nullptr;
        return open_error(err, 0);
    }
    return finish_open(AVPROBE_SCORE_MAX);
}

HRESULT Demuxer::finish_open(int probe_score) {
    if (network_) interrupt_.arm(options_.network_timeout);
    int err = avformat_find_stream_info(ctx_, nullptr);
    if (err < 0) return open_error(err, probe_score);

    for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
        AVStream *st = ctx_->streams[i];
        AVCodecParameters *par = st->codecpar;
        bool av = par->codec_type == AVMEDIA_TYPE_VIDEO || par->codec_type == AVMEDIA_TYPE_AUDIO;
        // Cover art is a one-picture "video" stream; it is not a stream to record.
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) av = false;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width <= 0 || par->height <= 0)) av = false;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0))
            av = false;
        if (par->codec_id == AV_CODEC_ID_NONE) av = false;
        if (av) media_streams_.push_back((int)i);
        else st->discard = AVDISCARD_ALL;
    }
    if (media_streams_.empty())
        return probe_score > AVPROBE_SCORE_RETRY ? VFW_E_UNSUPPORTED_STREAM : VFW_E_UNKNOWN_FILE_TYPE;

    start_time_ = 0;
    if (ctx_->start_time != AV_NOPTS_VALUE) start_time_ = to_units(ctx_->start_time, AVRational{1, AV_TIME_BASE});
    // Read once here: the demux thread may update the context's own fields while reading.
    duration_ = 0;
    if (ctx_->duration != AV_NOPTS_VALUE && ctx_->duration > 0)
        duration_ = to_units(ctx_->duration, AVRational{1, AV_TIME_BASE});
    if (ctx_->pb)
        seekable_ = (ctx_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 && duration_ > 0;
    else
        seekable_ = duration_ > 0 && ctx_->iformat && ctx_->iformat->read_seek;
    return S_OK;
}

HRESULT Demuxer::read(AVPacket *pkt) {
    av_packet_unref(pkt);
    if (!ctx_) return E_UNEXPECTED;
    if (network_) interrupt_.arm(options_.network_timeout);
    int err = av_read_frame(ctx_, pkt);
    interrupt_.disarm();
    if (err >= 0) return S_OK;
    if (err == AVERROR_EOF) {
        AVIOContext *pb = ctx_->pb;
        if (pb && pb->error < 0 && pb->error != AVERROR_EOF) {
            // FFmpeg's HTTP client reports a transfer that ends before its length as EIO.
            if (network_ && pb->error == AVERROR(EIO)) return HRESULT_FROM_WIN32(kWsaConnReset);
            return hresult_from_av(pb->error);
        }
        return S_FALSE;
    }
    if (err == AVERROR_EXIT) return interrupt_.timed_out() && !interrupt_.aborted() ? HRESULT_FROM_WIN32(kWsaTimedOut)
                                                                                   : E_ABORT;
    // FFmpeg's HTTP client reports a transfer that ends before its length as EIO.
    if (network_ && (err == AVERROR(EIO) || (ctx_->pb && ctx_->pb->error == AVERROR(EIO))))
        return HRESULT_FROM_WIN32(kWsaConnReset);
    return hresult_from_av(err);
}

HRESULT Demuxer::seek(int64_t t) {
    if (!ctx_) return E_UNEXPECTED;
    if (!seekable()) return E_NOTIMPL;
    int64_t target = av_rescale_q(std::max<int64_t>(t, 0) + start_time_, kUnitsTimeBase, AVRational{1, AV_TIME_BASE});
    if (network_) interrupt_.arm(options_.network_timeout);
    int err = avformat_seek_file(ctx_, -1, INT64_MIN, target, target, 0);
    if (err < 0) err = av_seek_frame(ctx_, -1, target, AVSEEK_FLAG_BACKWARD);
    interrupt_.disarm();
    return err < 0 ? hresult_from_av(err) : S_OK;
}

int64_t Demuxer::packet_time(const AVPacket *pkt, int64_t ts) const {
    if (ts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    return to_units(ts, ctx_->streams[pkt->stream_index]->time_base) - start_time_;
}

std::string Demuxer::display_name() const {
    if (local_path_.empty()) return url_;
    size_t slash = local_path_.find_last_of('/');
    return slash == std::string::npos ? local_path_ : local_path_.substr(slash + 1);
}

}  // namespace tw::posix::media
