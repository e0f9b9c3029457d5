#pragma once
// A JSON object document with named, typed members, in UTF-16 from end to end: the settings-manager client builds its
// request bodies with it and reads reply and notice bodies back through it.
//
// Contract:
// - A new formatter is an empty object; copies are deep, each formatter owning one memory pool that holds all its
//   names, strings and sub-documents (copied in, never referenced) and is freed as a whole with the formatter.
// - Names are taken up to their first NUL and compare by length and code unit, case-sensitive.
// - Getters give false for an absent member or one of another kind and leave the out argument as it was. A number is
//   readable as every integer kind its value fits; only a number with a fraction or exponent (or too large for 64
//   bits) is a double, readable only as a double. Setters store numbers with the kinds a parsed number would get.
// - A set replaces a member of the same name by moving the last member into its place and appending the new one:
//   with members a, b, c, setting a again leaves c, b, a.
// - parse is strict JSON (one root value, white space around it, nothing else); true only for an object root. A
//   valid text with another root is kept but gives false; a text that fails leaves the document as it was. Text
//   holding a NUL character, nested deeper than kMaxDepth, or holding a lone trailing-surrogate escape, fails (see
//   the .cpp for why).
// - Member access on a document whose root is not an object (after such a parse) is refused, never undefined.
// - toString is compact JSON; it gives an empty text when the document cannot be written (a non-finite double).
// - Not thread-safe; one thread uses a formatter at a time. Nothing throws but allocation failure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "clients/support/RapidJsonConfig.h"

namespace Orvan {

class JSONFormatter {
public:
    using Document = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
    using Value = Document::ValueType;

    // Deeper text is refused by parse: readers, writer and deep copy of the library recurse once per level.
    static constexpr unsigned kMaxDepth = 512;

    JSONFormatter();
    JSONFormatter(const JSONFormatter& other);
    JSONFormatter& operator=(const JSONFormatter& other);
    virtual ~JSONFormatter();

    virtual bool parse(const std::wstring& text);
    virtual std::wstring toString();

    virtual bool getString(const std::wstring& name, std::wstring& value);
    virtual bool getBool(const std::wstring& name, bool& value);
    virtual bool getInt(const std::wstring& name, std::int32_t& value);
    virtual bool getUInt(const std::wstring& name, std::uint32_t& value);
    virtual bool getInt64(const std::wstring& name, std::int64_t& value);
    virtual bool getUInt64(const std::wstring& name, std::uint64_t& value);
    virtual bool getDouble(const std::wstring& name, double& value);
    // Absent member: true, nothing appended. The out vector is not cleared; elements up to the first of another
    // kind are appended, and that element gives false.
    virtual bool getStringArray(const std::wstring& name, std::vector<std::wstring>& values);
    virtual bool getObject(const std::wstring& name, JSONFormatter& value);
    virtual bool getObjectArray(const std::wstring& name, std::vector<JSONFormatter>& values);

    virtual void setString(const std::wstring& name, const std::wstring& value);
    virtual void setBool(const std::wstring& name, bool value);
    virtual void setInt(const std::wstring& name, std::int32_t value);
    virtual void setUInt(const std::wstring& name, std::uint32_t value);
    virtual void setInt64(const std::wstring& name, std::int64_t value);
    virtual void setUInt64(const std::wstring& name, std::uint64_t value);
    virtual void setDouble(const std::wstring& name, double value);
    virtual void setStringArray(const std::wstring& name, const std::vector<std::wstring>& values);
    // Appends to the array member of that name, adding an empty one at the end when there is none; a member of
    // another kind is left alone and nothing is appended.
    virtual void appendString(const std::wstring& name, const std::wstring& value);
    virtual void setObject(const std::wstring& name, const JSONFormatter& value);
    virtual void setObjectArray(const std::wstring& name, const std::vector<JSONFormatter>& values);
    virtual void appendObject(const std::wstring& name, const JSONFormatter& value);

protected:
    // The common last step of the setters: removes a member of that name as described above and appends the new
    // one. Both values are moved into the document; they must live in its pool.
    virtual void setMember(Value& name, Value& value);

private:
    const Value* findMember(const std::wstring& name) const;
    Value* arrayForAppend(const std::wstring& name);
    Value nameValue(const std::wstring& name);
    void setScalar(const std::wstring& name, Value&& value);

    // The pool starts in the formatter itself: a small body (a request element, a notice) needs no heap block of
    // its own, and a bigger one grows in blocks of kPoolBlock bytes.
    static constexpr std::size_t kInlinePool = 1024;
    static constexpr std::size_t kPoolBlock = 16 * 1024;
    alignas(std::max_align_t) char inlinePool_[kInlinePool];
    Document::AllocatorType pool_{inlinePool_, kInlinePool, kPoolBlock};
    Document document_{&pool_};
};

}  // namespace Orvan
