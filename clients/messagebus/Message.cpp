#include "clients/messagebus/Message.h"

#include <windows.h>

#include <cstring>

#include "clients/support/ModuleStatus.h"

namespace Orvan {

namespace {

constexpr MessageHeader makeTemplate() {
    MessageHeader header{};
    header.marker = 1;
    header.version = MessageHeader::kCurrentVersion;
    header.extensionType = 11;
    header.extensionSize = 8;
    return header;
}

// The starting point of a header copy; the same bytes as the default header.
constexpr MessageHeader kCopyTemplate = makeTemplate();

uint32_t flagMask(unsigned bit) { return 1u << (bit & 31u); }

}  // namespace

const MessageHeader kDefaultMessageHeader = makeTemplate();

uint32_t messageTotalSize(size_t nameLength, size_t senderLength, size_t dataLength) {
    return static_cast<uint32_t>(sizeof(MessageHeader) + 2 * (nameLength + senderLength + dataLength) + 6);
}

uint32_t MessageHeader::testFlag(const MessageHeader* header, unsigned bit) {
    return (header->flags & flagMask(bit)) ? 1 : 0;
}
void MessageHeader::setFlag(MessageHeader* header, unsigned bit) { header->flags |= flagMask(bit); }
void MessageHeader::clearFlag(MessageHeader* header, unsigned bit) { header->flags &= ~flagMask(bit); }
void MessageHeader::clearReplyIndex(MessageHeader* header) { header->replyCorrelation = 0; }

const void* MessageHeader::getExtension(const MessageHeader* header, uint16_t wantedVersion) {
    if (wantedVersion != kCurrentVersion || header->version != kCurrentVersion) return nullptr;
    return &header->extensionType;
}

void MessageHeader::copyFrom(MessageHeader* destination, const MessageHeader* source) {
    std::memcpy(destination, &kCopyTemplate, sizeof(MessageHeader));
    if (!source) return;
    if (source->version == kCurrentVersion) {
        std::memcpy(destination, source, sizeof(MessageHeader));
        return;
    }
    // Only the first 100 bytes of an older header may be read.
    std::memcpy(destination, source, kVersion1Size);
    destination->totalSize += sizeof(MessageHeader) - kVersion1Size;
    destination->version = kCurrentVersion;
}

Message::Message(std::wstring name, std::wstring sender, std::wstring data)
    : name_(std::move(name)), sender_(std::move(sender)), data_(std::move(data)),
      header_(std::make_unique<MessageHeader>(kDefaultMessageHeader)) {
    header_->totalSize = messageTotalSize(name_.size(), sender_.size(), data_.size());
}

Message::~Message() = default;

std::wstring getOwnModuleFileName() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&getOwnModuleFileName), &module))
        return std::wstring();
    wchar_t path[MAX_PATH] = {};
    // Success does not clear the last error everywhere: an older error must not read as this call's.
    SetLastError(ERROR_SUCCESS);
    GetModuleFileNameW(module, path, MAX_PATH);
    if (GetLastError() != 0) return std::wstring();
    const std::wstring full = path;
    const size_t slash = full.find_last_of(L'\\');
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

std::shared_ptr<Message> createMessage(const std::wstring& name, const std::wstring& sender,
                                       const std::wstring& data) {
    std::shared_ptr<Message> message;
    runGuarded([&] {
        // Made inside the guard: a failure to make it throws here and is tried again by the next call.
        static const std::wstring ownModule = getOwnModuleFileName();
        message = std::make_shared<Message>(name, sender.empty() ? ownModule : sender, data);
        return MODULE_STATUS_SUCCESS;
    });
    return message;
}

}  // namespace Orvan
