#pragma once
// The unit that travels on the suite's message bus: name, sender, data and a fixed 108-byte binary header shared
// with the bus library. Messages are shared through std::shared_ptr and not changed after creation, except for the
// header flags that the client sets while publishing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Orvan {

#pragma pack(push, 1)
struct MessageHeader {
    uint16_t marker;            // 1 in the template; carried, never read
    uint32_t totalSize;         // 108 + 2 * (name + sender + data lengths in UTF-16 units) + 6
    uint32_t flags;             // see the flag bits below
    uint16_t version;           // 2 (a version-1 header is only the first 100 bytes)
    uint8_t reserved[80];       // carried, never set or read
    uint64_t replyCorrelation;  // goes with kReplyFlag
    uint16_t extensionType;     // 11
    uint16_t extensionSize;     // 8
    uint32_t sessionId;         // 0: any session

    static constexpr unsigned kReplyFlag = 0;         // the message is a reply
    static constexpr unsigned kNoCopyFlag = 3;        // suppresses the non-reply copy
    static constexpr unsigned kCopyPublishedFlag = 4; // a non-reply copy is published
    static constexpr size_t kVersion1Size = 100;
    static constexpr uint16_t kCurrentVersion = 2;

    // `bit` counts modulo 32.
    static uint32_t testFlag(const MessageHeader* header, unsigned bit);
    static void setFlag(MessageHeader* header, unsigned bit);
    static void clearFlag(MessageHeader* header, unsigned bit);
    static void clearReplyIndex(MessageHeader* header);
    // Byte 100 when version 2 is wanted and the header is version 2; null otherwise.
    static const void* getExtension(const MessageHeader* header, uint16_t wantedVersion);
    // The copy template, then the source: all 108 bytes of a version-2 source; the first 100 bytes of any other,
    // upgraded to version 2 (totalSize + 8, the template's extension). No source: the template alone.
    static void copyFrom(MessageHeader* destination, const MessageHeader* source);
};
#pragma pack(pop)
static_assert(sizeof(MessageHeader) == 108, "the bus's header is 108 bytes");
static_assert(offsetof(MessageHeader, totalSize) == 2 && offsetof(MessageHeader, flags) == 6 &&
                  offsetof(MessageHeader, version) == 10 && offsetof(MessageHeader, replyCorrelation) == 92 &&
                  offsetof(MessageHeader, extensionType) == 100 && offsetof(MessageHeader, sessionId) == 104,
              "the header's fields sit where the bus expects them");

// The header every new message starts from.
extern const MessageHeader kDefaultMessageHeader;

// 108 + 2 * (sum of the lengths) + 6.
uint32_t messageTotalSize(size_t nameLength, size_t senderLength, size_t dataLength);

class Message {
public:
    Message(std::wstring name, std::wstring sender, std::wstring data);
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    virtual ~Message();

    const std::wstring& getName() const { return name_; }
    const std::wstring& getSender() const { return sender_; }
    const std::wstring& getData() const { return data_; }
    MessageHeader* getHeader() const { return header_.get(); }

private:
    std::wstring name_;
    std::wstring sender_;
    std::wstring data_;
    std::unique_ptr<MessageHeader> header_;
};

// An empty sender becomes this module's own file name. Never throws; empty on any failure.
std::shared_ptr<Message> createMessage(const std::wstring& name, const std::wstring& sender, const std::wstring& data);

// The file name part of the module that holds this code; "" when it cannot be read.
std::wstring getOwnModuleFileName();

}  // namespace Orvan
