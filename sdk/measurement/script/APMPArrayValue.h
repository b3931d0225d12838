#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

class APMPArgumentList;
class APMPFunctionValue;

// What an array holds, in a plain base (as APMPValueKindTag is): its methods walk the elements.
class APMPArrayParts {
  public:
    std::size_t count() const { return elements_.size(); }
    // The elements as stored, holes included.
    const APMPValueList& elements() const { return elements_; }

  protected:
    explicit APMPArrayParts(std::shared_ptr<APMPRuntimeBudget> budget)
        : reservation_(std::move(budget)) {}

    APMPValueList elements_;
    std::unique_ptr<APMPPropertyMap> properties_;
    // The object and the element buffer.
    APMPMemoryReservation reservation_;
};

// An array: elements (holes allowed) plus named properties. Arrays a program makes are tracked
// by its runtime's object manager and account themselves, their element buffer (at its
// capacity) and their properties against its memory budget; growing past the cap fails with
// error 18 before allocating. Operations pay the elements they copy, move, compare or visit
// to the running program's instruction budget.
//
// A hole (emptyValue()) reads as undefined, is skipped by iteration and renders as "" in joins.
// The named properties are rare, so their table is made with the first one.
//
// The array methods hand the array itself to callbacks and return it, hence shared_from_this().
class APMPArrayValue : public APMPRuntimeValue,
                       public APMPArrayParts,
                       public std::enable_shared_from_this<APMPArrayValue> {
  public:
    static constexpr double kSlotBytes = sizeof(APMPValueRef);

    // An empty array accounted against `budget` (nothing when null).
    explicit APMPArrayValue(std::shared_ptr<APMPRuntimeBudget> budget = nullptr);
    ~APMPArrayValue() override;

    // An array of `elements` accounted against `budget`: error 18 and null past the cap.
    static std::shared_ptr<APMPArrayValue> make(APMPValueList elements,
                                                std::shared_ptr<APMPRuntimeBudget> budget,
                                                sdk::Error& error);

    // The shared hole marker.
    static const APMPValueRef& emptyValue();

    // A copy of the elements with holes as undefined.
    APMPValueList allElements() const;
    // As allElements(), appended to `out` (a list on the caller's stack, so no list is
    // allocated for a short array). REQUIRES: `out` has room for count() more values.
    void appendAllElements(APMPArgumentList& out) const;
    // The named properties; the table is made (and accounted) on first use.
    APMPPropertyMap& propertyMap();
    // The named properties; an empty table when none was ever set.
    const APMPPropertyMap& propertyMap() const;

    // "length" gives the count; an index below the count its element (a hole: undefined);
    // another index undefined; any other key the named property (undefined when absent).
    APMPValueRef valueForProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    // "length" requires an array index (else error 11) and sets the length; an index grows the
    // array to index + 1 with holes when needed and stores the element; any other key stores a
    // named property under the key's string.
    sdk::Error setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key);
    // An index below the count becomes a hole; another key removes the named property.
    sdk::Error removeValueForProperty(const APMPRuntimeValue& key);
    // An index is present when below the count and not a hole; another key when named.
    bool hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const;
    // A smaller length drops the tail; a larger one appends holes (error 18 past the cap,
    // nothing allocated).
    sdk::Error setLength(double length);
    // The named properties, then the indexes of the non-hole elements in order, as strings.
    APMPValueList allPropertyNames() const;
    // Appends `values` (error 18 past the cap, nothing appended).
    sdk::Error appendElements(APMPArguments values);
    // A new array of the elements in [location, location + length), clamped to the count,
    // accounted against this array's budget.
    std::shared_ptr<APMPArrayValue> subarrayWithRange(std::size_t location, std::size_t length,
                                                      sdk::Error& error) const;
    // A new array, tracked by `scope`'s object manager, of the elements followed, for each of
    // `values`, by an array's elements (holes included) or the value itself. A control value
    // fails with error 10; the memory cap with error 18. Errors give null.
    std::shared_ptr<APMPArrayValue> concat(APMPArguments values, const APMPScope& scope,
                                           sdk::Error& error) const;
    // Reverses the elements in place.
    void reverse();
    // Removes and returns the first or last element; undefined for an empty array, and for a
    // hole (a hole reads as undefined everywhere).
    APMPValueRef removeFirstElement();
    APMPValueRef removeLastElement();
    // Inserts `values`, in order, before the first element (error 18 past the cap, nothing
    // inserted).
    sdk::Error prependElements(APMPArguments values);
    // Removes `deleteCount` elements from `start` (both clamped to the array) and inserts
    // `values` there. Returns the removed elements as a new array tracked by `scope`'s manager;
    // null with error 18 (and nothing changed) past the cap.
    std::shared_ptr<APMPArrayValue> spliceFrom(std::size_t start, std::size_t deleteCount,
                                               APMPArguments values, const APMPScope& scope,
                                               sdk::Error& error);
    // The first index at or after `fromIndex` whose element strictly equals `value`; -1 when
    // none.
    std::int64_t indexOfValue(const APMPRuntimeValue& value, std::size_t fromIndex) const;
    // The last index at or before `fromIndex` (lowered to count - 1) whose element strictly
    // equals `value`; -1 when none or when `fromIndex` is negative.
    std::int64_t lastIndexOfValue(const APMPRuntimeValue& value, std::int64_t fromIndex) const;
    // Sorts in place: holes last, then undefined; the rest by `comparator` (called with two
    // elements, its result's sign decides; 0 and NaN mean equal) or, without one, by their
    // strings in code-unit order. After the first error every comparison answers equal, and
    // the error is returned when the sort ends. Any comparator, even an inconsistent one or
    // one that changes the array, leaves a permutation of the elements it started from.
    sdk::Error sortUsingFunctionValue(const std::shared_ptr<APMPFunctionValue>& comparator);

    // The elements' strings joined by `separator`; holes, undefined and null give "". An
    // element's string error aborts the join with "".
    std::u16string stringValueWithSeparator(std::u16string_view separator, sdk::Error& error,
                                            int depth = 0) const;

    bool booleanValueOrError(sdk::Error& error) const override;
    // A named property answers the call (its function invoked with the raw arguments, any
    // other value error 17); other names go to APMPArrayCommandEvaluator.
    APMPValueRef applyWithName(std::u16string_view name, APMPArguments arguments,
                               const APMPScopeRef& scope, sdk::Error& error) override;
    std::u16string stringValueAtDepth(sdk::Error& error, int depth) const override;
    double doubleValueAtDepth(sdk::Error& error, int depth) const override;
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

    // What an element buffer of `capacity` slots costs the allocator.
    static double bufferBytes(double capacity);

  private:
    // What the array object itself costs, with its control block.
    static double objectBytes();

    // Makes room for `count` elements: the buffer grows (geometrically, as a vector does) and
    // is accounted before it is allocated; error 18 (nothing changed) past the cap.
    sdk::Error ensureCapacity(double count);
    // Accounts a buffer of `capacity` slots (checked when it grows: error 18 and no change).
    sdk::Error accountBuffer(double capacity);
    // Accounts the buffer as it is now (after it shrank or was replaced).
    void accountBuffer();
};
