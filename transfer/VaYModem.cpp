#include "transfer/VaYModem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "serial/UiBridge.h"
#include "transfer/VaCrc.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

// An open local file; closed however the file ends.
class TLocalFile {
public:
    TLocalFile() = default;
    ~TLocalFile()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    bool OpenExisting(const std::string& path)
    {
        // Read and write access, as the unit's voice files are opened.
        fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
        return fd_ >= 0;
    }
    bool Create(const std::string& path)
    {
        fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }
    int64_t Size() const
    {
        struct stat st{};
        return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    // Reads up to count bytes; -1 on failure.
    int Read(uint8_t* buf, int count)
    {
        int done = 0;
        while (done < count) {
            const ssize_t n = read(fd_, buf + done, static_cast<size_t>(count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += static_cast<int>(n);
        }
        return done;
    }
    bool Write(const uint8_t* buf, int count)
    {
        int done = 0;
        while (done < count) {
            const ssize_t n = write(fd_, buf + done, static_cast<size_t>(count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<int>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
};

}  // namespace

// --- components ----------------------------------------------------------------------

TVaYModem::~TVaYModem()
{
    // The worker reads this object's members: stop it while they exist.
    StopWorker();
}

std::unique_ptr<TVaProtocolThread> TVaYModem::CreateWorker()
{
    return std::make_unique<TVaYModemThread>(this);
}

// --- TVaXYModemThread ----------------------------------------------------------------

TVaXYModemThread::TVaXYModemThread(TVaXYModem* owner, int bufferSize)
    : TVaProtocolThread(owner, bufferSize), xyOwner_(owner)
{
    std::memset(block_, 0, sizeof block_);
}

void TVaXYModemThread::SendCancel()
{
    const uint8_t cc[2] = {xy::CAN, xy::CAN};
    SendBytes(cc, 2);
}

void TVaXYModemThread::RaiseFileInfo(const std::string& name, int size)
{
    fileName_ = name;
    fileSize_ = size;
    Sync([this] {
        if (xyOwner_->OnFileInfo)
            xyOwner_->OnFileInfo(xyOwner_, fileName_, fileSize_);
    });
}

void TVaXYModemThread::RaisePacket(int packet, int byteCount)
{
    packet_ = packet;
    byteCount_ = byteCount;
    Sync([this] {
        if (xyOwner_->OnPacketEvent)
            xyOwner_->OnPacketEvent(xyOwner_, packet_, byteCount_);
    });
}

// --- TVaYModemThread: names ------------------------------------------------------------

TVaYModemThread::TVaYModemThread(TVaYModem* owner)
    : TVaXYModemThread(owner, owner->BufferSize()),
      files_(owner->Files()),
      protocol_(owner->Protocol()),
      targetFolder_(owner->TargetFolder()),
      yOwner_(owner)
{
}

std::string TVaYModemThread::ReceivedName(const uint8_t* block, int length)
{
    const uint8_t* end = block + length;
    const uint8_t* nul = std::find(block, end, 0);
    if (nul == end)
        return {};
    std::string name(reinterpret_cast<const char*>(block), static_cast<size_t>(nul - block));
    const size_t sep = name.find_last_of("/\\");
    if (sep != std::string::npos)
        name.erase(0, sep + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F)
            return {};
    return name;
}

int TVaYModemThread::ReceivedSize(const uint8_t* block, int length)
{
    const uint8_t* end = block + length;
    const uint8_t* p = std::find(block, end, 0);
    if (p == end || ++p == end || *p < '0' || *p > '9')
        return kSizeUnknown;
    int64_t size = 0;
    for (; p != end && *p >= '0' && *p <= '9'; ++p)
        size = std::min<int64_t>(size * 10 + (*p - '0'), INT_MAX);
    return static_cast<int>(size);
}

std::string TVaYModemThread::FreeName(const std::string& path)
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        return path;
    const fs::path p(path);
    const std::string stem = p.stem().string();
    const std::string ext = p.extension().string();
    for (int n = 1;; ++n) {
        fs::path candidate = p.parent_path() / (stem + "-" + std::to_string(n) + ext);
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate.string();
    }
}

// --- TVaYModemThread: sender ----------------------------------------------------------

int TVaYModemThread::WaitReceiverReady()
{
    for (int i = 0; i < 10; ++i) {
        const int c = ReadByte();
        if (c == 0 && Cancelled()) {
            SendCancel();
            Fail(vtCancelled);
        }
        if (c == xy::NAK || c == xy::CRC || c == xy::STREAM)
            return c;
        CountError(veUnexpected, false);
    }
    Fail(vtProtocolError);
}

void TVaYModemThread::SendFrame(int number, int length, int h)
{
    uint8_t frame[3 + 1024 + 2];
    const uint8_t n = static_cast<uint8_t>(number & 0xFF);
    frame[0] = length == 128 ? xy::SOH : xy::STX;
    frame[1] = n;
    frame[2] = static_cast<uint8_t>(255 - n);
    std::memcpy(frame + 3, block_, static_cast<size_t>(length));
    int size = 3 + length;
    if (h == xy::NAK) {
        frame[size++] = VaChecksum(block_, static_cast<size_t>(length));
    } else {
        const uint16_t crc = VaCrc16(block_, static_cast<size_t>(length));
        frame[size++] = static_cast<uint8_t>(crc >> 8);
        frame[size++] = static_cast<uint8_t>(crc & 0xFF);
    }
    // One write per block: the port's queue then never holds part of one.
    if (h == xy::STREAM)
        SendStreaming(frame, size);
    else
        SendBytes(frame, size);
}

void TVaYModemThread::SendBlock(int number, int length, int h)
{
    for (;;) {
        CheckLine();
        if (Cancelled()) {
            SendCancel();
            Fail(vtCancelled);
        }
        SendFrame(number, length, h);
        if (h == xy::STREAM) {
            if (PeekByte() == xy::CAN)
                Fail(vtPeerCancelled);
            return;
        }
        const int a = ReadByte();
        if (a == xy::ACK)
            return;
        if (a == xy::NAK) {
            CountError(veBadBlock, true);
            continue;
        }
        if (a == xy::CAN)
            Fail(vtPeerCancelled);
        if (a == 0)
            continue;  // cancelled (step one ends it) or a stray NUL
        Fail(vtProtocolError);
    }
}

void TVaYModemThread::SendEot()
{
    for (int i = 0; i < 10; ++i) {
        SendByte(xy::EOT);
        const int a = ReadByte();
        if (a == xy::ACK)
            return;
        if (a == 0 && Cancelled()) {
            SendCancel();
            Fail(vtCancelled);
        }
        CountError(veUnexpected, false);
    }
    Fail(vtProtocolError);
}

void TVaYModemThread::SendFile(const std::string& path)
{
    TLocalFile file;
    if (!file.OpenExisting(path)) {
        SendCancel();
        Fail(vtOpenFailed);
    }
    const int64_t size = file.Size();
    RaiseFileInfo(path, static_cast<int>(std::min<int64_t>(size, INT_MAX)));
    const int h = WaitReceiverReady();
    const int length = h == xy::NAK ? 128 : 1024;
    int64_t pos = 0;
    for (int n = 1;; ++n) {
        std::memset(block_, 0, sizeof block_);
        const int got = file.Read(block_, length);
        // A file that ends before its size was reached has changed under us.
        if (got < 0 || (got == 0 && pos != size)) {
            SendCancel();
            Fail(vtReadFailed);
        }
        SendBlock(n, length, h);
        pos += got;
        RaisePacket(n, static_cast<int>(std::min<int64_t>(pos, INT_MAX)));
        if (pos >= size) {
            SendEot();
            Fail(vtSuccess);
        }
    }
}

void TVaYModemThread::Upload()
{
    // Nothing to send: the transfer ends at once.
    if (files_.empty())
        Fail(vtSuccess);
    for (const std::string& path : files_) {
        const int h = WaitReceiverReady();
        std::memset(block_, 0, sizeof block_);
        std::error_code ec;
        const auto fsize = fs::file_size(path, ec);
        const std::string size = ec ? std::string("-1") : std::to_string(fsize);
        std::string name = fs::path(path).filename().string();
        // Name, NUL, digits, and at least one NUL after them in 128 bytes.
        if (name.size() + 1 + size.size() > 127)
            name.resize(127 - 1 - size.size());
        std::memcpy(block_, name.data(), name.size());
        std::memcpy(block_ + name.size() + 1, size.data(), size.size());
        SendBlock(0, 128, h);
        try {
            SendFile(path);
        } catch (const TVaSilentAbort&) {
            // Only the file's own end goes on to the next; any other
            // exception ends the transfer.
            if (owner_->ExitCode() != vtSuccess)
                throw;
        }
    }
    const int h = WaitReceiverReady();
    std::memset(block_, 0, sizeof block_);
    // The receiver's answer to the end of the batch is not awaited.
    SendFrame(0, 128, h);
    Fail(vtSuccess);
}

// --- TVaYModemThread: receiver ---------------------------------------------------------

void TVaYModemThread::SendHandshake(int h)
{
    for (int i = 0; i < 10 && !Cancelled(); ++i) {
        SendByte(static_cast<uint8_t>(h));
        if (HasData() || WaitForData(10000))
            return;
        CheckLine();
        if (Overflow())
            return;  // the next read ends the transfer
        if (!Cancelled())
            CountError(veTimeout, false);
    }
    Fail(vtNoSender);
}

int TVaYModemThread::ReceiveBlock(int expected, int h)
{
    std::memset(block_, 0, sizeof block_);
    // Within a block the bytes follow each other without pause: one that has
    // not come within the gap was lost, and the block is asked for again.
    const int gapMs = std::min(kByteGapMs, timeout_);
    int length = 0;
    for (;;) {
        const int c = ReadByte();
        if (c == xy::SOH) {
            length = 128;
        } else if (c == xy::STX) {
            length = 1024;
        } else if (c == xy::EOT) {
            return kEot;
        } else if (c == xy::CAN) {
            Fail(vtPeerCancelled);
        } else if (c != 0) {
            Fail(vtProtocolError);
        }
        // 0 keeps the length of the block asked for again.
        bool lost = false;
        auto next = [&]() -> uint8_t {
            if (lost)
                return 0;
            const int b = ReadByteWithin(gapMs);
            lost = b < 0;
            return static_cast<uint8_t>(lost ? 0 : b);
        };
        const int number = next();
        next();  // the complement is not checked
        uint16_t crc = 0;
        uint8_t sum = 0;
        for (int i = 0; i < length; ++i) {
            const uint8_t b = next();
            block_[i] = b;
            if (h == xy::NAK)
                sum = static_cast<uint8_t>(sum + b);
            else
                crc = VaCrc16Update(crc, b);
        }
        bool match;
        if (h == xy::NAK) {
            match = next() == sum;
        } else {
            const int hi = next();
            const int lo = next();
            match = ((hi << 8) | lo) == crc;
        }
        if (Cancelled()) {
            SendCancel();
            Fail(vtCancelled);
        }
        if (lost) {
            PurgeUntilQuiet(gapMs);
            CountError(veTimeout, true);
            SendByte(xy::NAK);
            continue;
        }
        // A NUL where no block was announced yet: a block of no length,
        // whose empty check would match anything.
        if (length == 0) {
            CountError(veBadBlock, true);
            SendByte(xy::NAK);
            continue;
        }
        if (number != (expected & 0xFF)) {
            SendCancel();
            Fail(vtProtocolError);
        }
        if (match)
            return length;
        CountError(veBadBlock, true);
        SendByte(xy::NAK);
    }
}

void TVaYModemThread::ReceiveFile(const std::string& path, int size, int h)
{
    const std::string actual = FreeName(path);
    TLocalFile file;
    if (!file.Create(actual)) {
        SendCancel();
        Fail(vtCreateFailed);
    }
    RaiseFileInfo(actual, size);
    SendByte(static_cast<uint8_t>(h));
    int64_t pos = 0;
    for (int n = 1;; ++n) {
        const int length = ReceiveBlock(n, h);
        if (length == kEot) {
            // The sender ended the file before the size it announced: what
            // arrived is not the file, whatever the sender thinks.
            if (size != kSizeUnknown && pos < size) {
                SendCancel();
                Fail(vtShortFile);
            }
            SendByte(xy::ACK);
            Fail(vtSuccess);
        }
        // The announced size is honoured: the padding of the last block is
        // not written.
        int64_t count = length;
        const int64_t missing = static_cast<int64_t>(size) - pos;
        if (missing <= length)
            count = missing > 0 ? missing : 0;
        if (count > 0 && !file.Write(block_, static_cast<int>(count))) {
            SendCancel();
            Fail(vtWriteFailed);
        }
        pos += count;
        RaisePacket(n, static_cast<int>(pos));
        if (h != xy::STREAM)
            SendByte(xy::ACK);
    }
}

void TVaYModemThread::Download()
{
    yOwner_->files_.clear();
    std::string folder = targetFolder_;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const int h = protocol_ == YModemG ? xy::STREAM : xy::CRC;
    for (;;) {
        SendHandshake(h);
        const int length = ReceiveBlock(0, xy::CRC);
        if (length == kEot) {
            // The end of the last file again: the sender did not get our
            // answer to it. Answer once more and wait for the next header.
            SendByte(xy::ACK);
            CountError(veUnexpected, false);
            continue;
        }
        if (block_[0] == 0) {
            if (h != xy::STREAM)
                SendByte(xy::ACK);
            Fail(vtSuccess);
        }
        // A name that could reach outside the folder, or none at all, is
        // refused.
        const std::string name = ReceivedName(block_, length);
        if (name.empty()) {
            SendCancel();
            Fail(vtProtocolError);
        }
        const int size = ReceivedSize(block_, length);
        if (h != xy::STREAM)
            SendByte(xy::ACK);
        try {
            ReceiveFile(folder + name, size, h);
        } catch (const TVaSilentAbort&) {
            // Only the file's own end counts as a file received; any other
            // exception (a write the port could not take) ends the transfer.
            if (owner_->ExitCode() != vtSuccess)
                throw;
            yOwner_->files_.push_back(folder + name);
        }
    }
}

}  // namespace kv
