#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class VDUKeyedArchiver;
class VDUKeyedUnarchiver;

// An object that can be kept in a keyed archive, in place of secure coding: it names its class
// and writes its fields under keys. Kept objects are immutable once made, so one object may be
// handed to many threads (the keychain storage caches and shares them).
class VDUArchivable {
  public:
    virtual ~VDUArchivable() = default;

    // The class name written into archives; decoding checks it.
    virtual std::string_view archiveClassName() const = 0;

    // Writes the fields through the archiver's encode calls.
    virtual void encodeWithCoder(VDUKeyedArchiver& coder) const = 0;
};

// A class that archives may hold: its name and the decoder that makes one from an unarchiver
// positioned on a stored object of that class.
struct VDUArchiveClass {
    std::string name;
    // Returns the decoded object, or null after `VDUKeyedUnarchiver::failWithError` (or when
    // the fields do not make an object).
    std::function<std::shared_ptr<const VDUArchivable>(VDUKeyedUnarchiver&)> decode;

    // The class of T, which has `static constexpr std::string_view kArchiveClassName` and
    // `static std::shared_ptr<T> initWithCoder(VDUKeyedUnarchiver&)`.
    template <typename T>
    static VDUArchiveClass of() {
        return VDUArchiveClass{
            std::string(T::kArchiveClassName),
            [](VDUKeyedUnarchiver& coder) -> std::shared_ptr<const VDUArchivable> {
                return T::initWithCoder(coder);
            }};
    }
};
