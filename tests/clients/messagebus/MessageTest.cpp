// The message record and its header helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "clients/messagebus/Message.h"

namespace {

using Orvan::MessageHeader;

std::wstring OwnFileName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L'\\') + 1);
}

TEST(MessageTest, NewMessageCarriesTheTemplateAndItsTotalSize) {
    const struct {
        const wchar_t *name, *sender, *data;
        uint32_t total;
    } cases[] = {
        {L"Core.OOBE.OOBEComplete", L"welkin", L"", 170},
        {L"a", L"b", L"{}", 108 + 2 * 4 + 6},
        {L"", L"s", L"", 108 + 2 + 6},
    };
    for (const auto& c : cases) {
        const auto message = Orvan::createMessage(c.name, c.sender, c.data);
        ASSERT_TRUE(message);
        EXPECT_EQ(c.name, message->getName());
        EXPECT_EQ(c.sender, message->getSender());
        EXPECT_EQ(c.data, message->getData());
        const MessageHeader* header = message->getHeader();
        EXPECT_EQ(c.total, header->totalSize) << c.name;
        EXPECT_EQ(1, header->marker);
        EXPECT_EQ(0u, header->flags);
        EXPECT_EQ(2, header->version);
        EXPECT_EQ(0u, header->replyCorrelation);
        EXPECT_EQ(11, header->extensionType);
        EXPECT_EQ(8, header->extensionSize);
        EXPECT_EQ(0u, header->sessionId);
    }
}

TEST(MessageTest, EmptySenderBecomesThisModulesFileName) {
    EXPECT_EQ(OwnFileName(), Orvan::createMessage(L"n", L"", L"")->getSender());
    EXPECT_EQ(OwnFileName(), Orvan::getOwnModuleFileName());
    SetLastError(ERROR_ACCESS_DENIED);  // an older error is not this call's
    EXPECT_EQ(OwnFileName(), Orvan::getOwnModuleFileName());
}

TEST(MessageHeaderTest, FlagsCountTheirBitModulo32) {
    MessageHeader header = Orvan::kDefaultMessageHeader;
    MessageHeader::setFlag(&header, 35);
    EXPECT_EQ(0x8u, header.flags);
    EXPECT_EQ(1u, MessageHeader::testFlag(&header, 3));
    EXPECT_EQ(1u, MessageHeader::testFlag(&header, 35));
    EXPECT_EQ(0u, MessageHeader::testFlag(&header, 4));
    MessageHeader::setFlag(&header, 0);
    MessageHeader::clearFlag(&header, 3);
    EXPECT_EQ(0x1u, header.flags);
    header.replyCorrelation = 99;
    MessageHeader::clearReplyIndex(&header);
    EXPECT_EQ(0u, header.replyCorrelation);
}

TEST(MessageHeaderTest, ExtensionOnlyForVersionTwoAskedAsVersionTwo) {
    MessageHeader header = Orvan::kDefaultMessageHeader;
    EXPECT_EQ(reinterpret_cast<const BYTE*>(&header) + 100, MessageHeader::getExtension(&header, 2));
    EXPECT_EQ(nullptr, MessageHeader::getExtension(&header, 1));
    header.version = 1;
    EXPECT_EQ(nullptr, MessageHeader::getExtension(&header, 2));
}

TEST(MessageHeaderTest, CopyUpgradesAnOlderHeaderAndReadsOnlyItsHundredBytes) {
    // An older header is 100 bytes: what follows it is not the sender's (here a marker that must not be copied).
    BYTE source[108];
    std::memset(source, 0x5A, sizeof(source));
    MessageHeader older{};
    older.marker = 1;
    older.totalSize = 150;
    older.flags = 0x11;
    older.version = 1;
    older.replyCorrelation = 77;
    std::memcpy(source, &older, 100);
    MessageHeader copy{};
    MessageHeader::copyFrom(&copy, reinterpret_cast<const MessageHeader*>(source));
    EXPECT_EQ(158u, copy.totalSize);
    EXPECT_EQ(2, copy.version);
    EXPECT_EQ(0x11u, copy.flags);
    EXPECT_EQ(77u, copy.replyCorrelation);
    EXPECT_EQ(11, copy.extensionType);
    EXPECT_EQ(8, copy.extensionSize);
    EXPECT_EQ(0u, copy.sessionId);

    MessageHeader current = Orvan::kDefaultMessageHeader;
    current.totalSize = 170;
    current.sessionId = 7;
    current.reserved[5] = 9;
    MessageHeader::copyFrom(&copy, &current);
    EXPECT_EQ(0, std::memcmp(&copy, &current, sizeof(MessageHeader)));

    MessageHeader::copyFrom(&copy, nullptr);
    EXPECT_EQ(0, std::memcmp(&copy, &Orvan::kDefaultMessageHeader, sizeof(MessageHeader)));
}

}  // namespace
