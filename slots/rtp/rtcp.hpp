#pragma once
// The two RTCP packets the gateway sends for each RTP stream (RFC 3550): one
// source description when the stream is created and one goodbye when it
// ends. Packets are encoded into the caller's buffer, never past its end;
// RTCP is never received.
#include <string>
#include <vector>

namespace RTPC
{

class Msg
{
public:
    Msg() = default;
    Msg(const Msg&) = default;
    Msg& operator=(const Msg&) = default;
    virtual ~Msg() = default;

    virtual unsigned pt() const = 0;
    // The 5-bit count of the header.
    virtual unsigned count() const = 0;
    // Writes the body, padded to a multiple of 4, into at most `size` bytes;
    // the bytes written.
    virtual unsigned encode_body(char* buffer, unsigned size) const = 0;

    // The whole packet; its length in bytes, 0 when nothing fitted.
    unsigned encode(char* buffer, unsigned size) const;
};

class SDES : public Msg
{
public:
    class Item
    {
    public:
        enum Type { CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7, PRIV = 8 };
        Item(Type type, std::string text) : mType(type), mText(std::move(text)) {}
        Type type() const { return mType; }
        std::string const& text() const { return mText; }

    private:
        Type mType;
        std::string mText;
    };

    explicit SDES(unsigned ssrc) : mSsrc(ssrc) {}
    void add(Item::Type type, std::string const& text) { mItems.emplace_back(type, text); }

    unsigned pt() const override { return 202; }
    unsigned count() const override { return 1; }
    unsigned encode_body(char* buffer, unsigned size) const override;

private:
    unsigned mSsrc;
    std::vector<Item> mItems;
};

class BYE : public Msg
{
public:
    BYE(unsigned ssrc, std::string const& reason) : mSsrc(ssrc), mReason(reason) {}

    unsigned pt() const override { return 203; }
    unsigned count() const override { return 1; }
    unsigned encode_body(char* buffer, unsigned size) const override;

private:
    unsigned mSsrc;
    std::string mReason;
};

} // namespace RTPC
