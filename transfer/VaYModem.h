// YModem batch transfer (128- and 1024-byte blocks, CRC-16 or checksum,
// block 0 with name and size, an empty block 0 ending the batch) and its
// streaming variant YModem-G.
//
//   TVaXYModem (TVaProtocol)          OnFileInfo, OnPacketEvent
//   TVaYModem  (TVaXYModem)           Files, Protocol, TargetFolder
//   TVaXYModemThread, TVaYModemThread the sender and the receiver
//
// Exit codes (constants in VaProtocol.h): 0 the batch ended normally; -3
// cancelled here; -4 cancelled by the peer; -5 protocol error; -6 a received
// file ended (EOT) before the size its block 0 announced: the sender gets
// CAN CAN and the file is not listed in Files; -7 / -8 reading / writing the
// local file failed; -9 the error count reached MaxErrors; -10 no sender
// answered the handshakes; -11 / -12 the local file could not be created /
// opened; -13 the port reported that the line hung up (the transfer ends
// at once, nothing more is sent); -14 more than 4096 bytes waited in the
// receive queue.
//
// The receiver never takes a block of no length (a NUL where the block's
// header byte belongs, before any header was read) or a block whose bytes
// stop for more than kByteGapMs: both are bad blocks, answered with NAK. An
// EOT where block 0 is awaited (the sender repeats its end of file when our
// answer was lost) is answered with ACK again, and block 0 is awaited anew.
//
// Typical use on the UI thread:
//
//   TVaYModem ym;
//   ym.SetComm(&port);
//   ym.SetMode(tmUpload);
//   ym.Files() = {"/path/greeting.wav"};
//   ym.OnTransferEnd = [](TVaComponent*, int code) { ... };
//   ym.Start();
#pragma once

#include <string>
#include <vector>

#include "transfer/VaProtocol.h"

namespace kv {

enum TVaYProtocol : int { YModem, YModemG };

using TVaFileInfoEvent = std::function<void(TVaComponent* Sender, const std::string& Name, int Size)>;
using TVaPacketEvent = std::function<void(TVaComponent* Sender, int Packet, int ByteCount)>;

class TVaXYModem : public TVaProtocol {
public:
    // A file was opened for sending or receiving: its path and size.
    TVaFileInfoEvent OnFileInfo;
    // After every data block: the block number and the file position.
    TVaPacketEvent OnPacketEvent;
};

class TVaYModem : public TVaXYModem {
public:
    TVaYModem() = default;
    ~TVaYModem() override;

    // Upload: the paths to send, in order. Download: the paths received
    // (the target folder plus each announced name), filled by the worker and
    // read after OnTransferEnd.
    std::vector<std::string>& Files() { return files_; }
    const std::vector<std::string>& Files() const { return files_; }
    void SetFiles(const std::vector<std::string>& v) { files_ = v; }
    // The receiving handshake: 'C' for YModem, 'G' for YModemG.
    TVaYProtocol Protocol() const { return protocol_; }
    void SetProtocol(TVaYProtocol v) { protocol_ = v; }
    // Download: the folder the files are written into.
    const std::string& TargetFolder() const { return targetFolder_; }
    void SetTargetFolder(const std::string& v) { targetFolder_ = v; }

protected:
    std::unique_ptr<TVaProtocolThread> CreateWorker() override;

private:
    friend class TVaYModemThread;
    std::vector<std::string> files_;
    TVaYProtocol protocol_ = YModem;
    std::string targetFolder_;
};

// Adds the block buffer, the file events and the two-CAN cancel.
class TVaXYModemThread : public TVaProtocolThread {
public:
    TVaXYModemThread(TVaXYModem* owner, int bufferSize);

protected:
    void SendCancel() override;

    // Hand-over of OnFileInfo and OnPacketEvent (the worker waits).
    void RaiseFileInfo(const std::string& name, int size);
    void RaisePacket(int packet, int byteCount);

    uint8_t block_[1024];
    // For the hand-over of events.
    std::string fileName_;
    int fileSize_ = 0;
    int packet_ = 0;
    int byteCount_ = 0;

private:
    TVaXYModem* const xyOwner_;
};

class TVaYModemThread : public TVaXYModemThread {
public:
    explicit TVaYModemThread(TVaYModem* owner);

    // The name of a received file from its header: the text up to the
    // first NUL reduced to its last component ('/' and '\' both separate).
    // Empty when the header has no NUL or the name is empty, "." or ".."
    // or holds a control character.
    static std::string ReceivedName(const uint8_t* block, int length);
    // A header without size digits; every block is then written whole.
    static constexpr int kSizeUnknown = 0x7FFFFFFF;
    // The announced size: the decimal digits right after the name's NUL;
    // kSizeUnknown when there are none.
    static int ReceivedSize(const uint8_t* block, int length);
    // The longest pause between two bytes of one block, ms (never more than
    // Timeout): a byte that has not come by then was lost.
    static constexpr int kByteGapMs = 1000;
    // path when no such file exists, else the first free
    // <folder>/<name>-<n><extension>, n counting from 1.
    static std::string FreeName(const std::string& path);

protected:
    void Upload() override;
    void Download() override;

private:
    // Sender.
    int WaitReceiverReady();
    void SendBlock(int number, int length, int h);
    void SendFrame(int number, int length, int h);
    void SendEot();
    void SendFile(const std::string& path);
    // Receiver.
    void SendHandshake(int h);
    // The length of the block received, or kEot for an EOT (not answered).
    static constexpr int kEot = -1;
    int ReceiveBlock(int expected, int h);
    void ReceiveFile(const std::string& path, int size, int h);

    const std::vector<std::string> files_;  // upload: taken at Start
    const TVaYProtocol protocol_;
    const std::string targetFolder_;
    TVaYModem* const yOwner_;
};

}  // namespace kv
