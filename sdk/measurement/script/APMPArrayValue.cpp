#include "sdk/measurement/script/APMPArrayValue.h"

#include <algorithm>
#include <cmath>

#include "sdk/measurement/script/APMPArgumentList.h"
#include "sdk/measurement/script/APMPArrayCommandEvaluator.h"
#include "sdk/measurement/script/APMPEquality.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

bool isLengthKey(const APMPRuntimeValue& key) {
    return key.kind() == APMPValueKind::kString &&
           static_cast<const APMPStringValue&>(key).value() == u"length";
}

bool isHole(const APMPValueRef& value) {
    return value == APMPArrayValue::emptyValue();
}

double indexOf(const APMPRuntimeValue& key) {
    sdk::Error ignored;
    return key.doubleValueOrError(ignored);
}

}  // namespace

APMPArrayValue::APMPArrayValue(std::shared_ptr<APMPRuntimeBudget> budget)
    : APMPRuntimeValue(APMPValueKind::kArray), APMPArrayParts(std::move(budget)) {
    reservation_.account(objectBytes());
}

double APMPArrayValue::objectBytes() {
    return APMPSharedObjectBytes(sizeof(APMPArrayValue));
}

APMPPropertyMap& APMPArrayValue::propertyMap() {
    return APMPPropertyMap::madeIn(properties_, reservation_.budget());
}

const APMPPropertyMap& APMPArrayValue::propertyMap() const {
    return APMPPropertyMap::in(properties_);
}

APMPArrayValue::~APMPArrayValue() {
    Released released;
    APMPArrayValue::releaseReferences(released);
    APMPReleaseAll(released);
}

std::shared_ptr<APMPArrayValue> APMPArrayValue::make(APMPValueList elements,
                                                     std::shared_ptr<APMPRuntimeBudget> budget,
                                                     sdk::Error& error) {
    auto array = std::make_shared<APMPArrayValue>(std::move(budget));
    error = APMPChargeWork(static_cast<double>(elements.size()),
                           APMPRuntimeBudget::kCopiedElementsPerStep);
    if (error.ok()) {
        error = array->accountBuffer(static_cast<double>(elements.capacity()));
    }
    if (!error.ok()) {
        return nullptr;
    }
    array->elements_ = std::move(elements);
    return array;
}

const APMPValueRef& APMPArrayValue::emptyValue() {
    static const APMPValueRef& marker =
        *new APMPValueRef(APMPPermanentValue(new APMPRuntimeValue()));  // lives for the process
    return marker;
}

APMPValueList APMPArrayValue::allElements() const {
    (void)APMPChargeWork(static_cast<double>(elements_.size()),
                         APMPRuntimeBudget::kCopiedElementsPerStep);
    APMPValueList out;
    out.reserve(elements_.size());
    for (const auto& element : elements_) {
        out.push_back(isHole(element) ? APMPUndefined() : element);
    }
    return out;
}

void APMPArrayValue::appendAllElements(APMPArgumentList& out) const {
    (void)APMPChargeWork(static_cast<double>(elements_.size()),
                         APMPRuntimeBudget::kCopiedElementsPerStep);
    for (const auto& element : elements_) {
        out.push_back(isHole(element) ? APMPUndefined() : element);
    }
}

double APMPArrayValue::bufferBytes(double capacity) {
    return capacity > 0 ? APMPAllocationBytes(capacity * sizeof(APMPValueRef)) : 0;
}

sdk::Error APMPArrayValue::ensureCapacity(double count) {
    const auto capacity = static_cast<double>(elements_.capacity());
    if (count <= capacity) {
        return {};
    }
    // As a vector grows: at least double. The cap is checked on the double, before any size_t
    // conversion can wrap.
    const double grown = std::max(count, 2 * capacity);
    sdk::Error error = accountBuffer(grown);
    if (!error.ok()) {
        error = accountBuffer(count);
        if (!error.ok()) {
            return error;
        }
        elements_.reserve(static_cast<std::size_t>(count));
        return {};
    }
    elements_.reserve(static_cast<std::size_t>(grown));
    return {};
}

sdk::Error APMPArrayValue::accountBuffer(double capacity) {
    return reservation_.resize(objectBytes() + bufferBytes(capacity));
}

void APMPArrayValue::accountBuffer() {
    (void)accountBuffer(static_cast<double>(elements_.capacity()));
}

APMPValueRef APMPArrayValue::valueForProperty(const APMPRuntimeValue& key,
                                              sdk::Error& error) const {
    if (isLengthKey(key)) {
        return APMPNumberValue::make(static_cast<double>(elements_.size()));
    }
    if (!APMPIsArrayIndex(key)) {
        APMPPropertyNameBuffer storage;
        const std::u16string_view name = APMPPropertyName(key, storage, error);
        return error.ok() ? propertyMap().valueForName(name) : APMPUndefined();
    }
    const double index = indexOf(key);
    if (index < static_cast<double>(elements_.size())) {
        const APMPValueRef& element = elements_[static_cast<std::size_t>(index)];
        return isHole(element) ? APMPUndefined() : element;
    }
    return APMPUndefined();
}

sdk::Error APMPArrayValue::setValueForProperty(APMPValueRef value, const APMPRuntimeValue& key) {
    if (isLengthKey(key)) {
        if (!APMPIsArrayIndex(*value)) {
            return APMPError(APMPErrorCode::kInvalidArrayLength);
        }
        return setLength(indexOf(*value));
    }
    if (!APMPIsArrayIndex(key)) {
        sdk::Error error;
        APMPPropertyNameBuffer storage;
        const std::u16string_view name = APMPPropertyName(key, storage, error);
        return error.ok() ? propertyMap().setValue(std::move(value), name) : error;
    }
    const double index = indexOf(key);
    if (index >= static_cast<double>(elements_.size())) {
        sdk::Error error = setLength(index + 1);
        if (!error.ok()) {
            return error;
        }
    }
    elements_[static_cast<std::size_t>(index)] = std::move(value);
    return {};
}

sdk::Error APMPArrayValue::removeValueForProperty(const APMPRuntimeValue& key) {
    if (APMPIsArrayIndex(key)) {
        const double index = indexOf(key);
        if (index < static_cast<double>(elements_.size())) {
            elements_[static_cast<std::size_t>(index)] = emptyValue();
        }
        return {};
    }
    sdk::Error error;
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    if (error.ok()) {
        if (properties_) {
            properties_->removeValueForName(name);
        }
    }
    return error;
}

bool APMPArrayValue::hasProperty(const APMPRuntimeValue& key, sdk::Error& error) const {
    if (APMPIsArrayIndex(key)) {
        const double index = indexOf(key);
        return index < static_cast<double>(elements_.size()) &&
               !isHole(elements_[static_cast<std::size_t>(index)]);
    }
    APMPPropertyNameBuffer storage;
    const std::u16string_view name = APMPPropertyName(key, storage, error);
    return error.ok() && propertyMap().hasName(name);
}

sdk::Error APMPArrayValue::setLength(double length) {
    if (!(length >= 0) || std::trunc(length) != length) {
        return APMPError(APMPErrorCode::kInvalidArrayLength);
    }
    const double count = static_cast<double>(elements_.size());
    sdk::Error error =
        APMPChargeWork(std::abs(length - count), APMPRuntimeBudget::kCopiedElementsPerStep);
    if (!error.ok()) {
        return error;
    }
    // The cap is checked on the double, before any size_t conversion can wrap.
    if (length > count) {
        error = ensureCapacity(length);
        if (!error.ok()) {
            return error;
        }
        elements_.resize(static_cast<std::size_t>(length), emptyValue());
        return {};
    }
    Released released;
    for (std::size_t i = static_cast<std::size_t>(length); i < elements_.size(); ++i) {
        APMPRelease(released, std::move(elements_[i]));
    }
    elements_.resize(static_cast<std::size_t>(length));
    // A buffer left mostly empty is given back.
    if (elements_.size() < elements_.capacity() / 4) {
        elements_.shrink_to_fit();
        accountBuffer();
    }
    APMPReleaseAll(released);
    return {};
}

APMPValueList APMPArrayValue::allPropertyNames() const {
    // Every slot is looked at; each key is a new string.
    (void)APMPChargeWork(static_cast<double>(elements_.size()),
                         APMPRuntimeBudget::kScannedElementsPerStep);
    APMPValueList names;
    for (const auto& name : propertyMap().allNames()) {
        names.push_back(APMPStringValue::make(name));
    }
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (!isHole(elements_[i])) {
            names.push_back(
                APMPStringValue::make(APMPNumberValue::stringFromDouble(static_cast<double>(i))));
        }
    }
    (void)APMPChargeWork(static_cast<double>(names.size()), APMPRuntimeBudget::kObjectsPerStep);
    return names;
}

sdk::Error APMPArrayValue::appendElements(APMPArguments values) {
    sdk::Error error = APMPChargeWork(static_cast<double>(values.size()),
                                      APMPRuntimeBudget::kCopiedElementsPerStep);
    if (error.ok()) {
        error = ensureCapacity(static_cast<double>(elements_.size()) +
                               static_cast<double>(values.size()));
    }
    if (!error.ok()) {
        return error;
    }
    elements_.insert(elements_.end(), values.begin(), values.end());
    return {};
}

std::shared_ptr<APMPArrayValue> APMPArrayValue::subarrayWithRange(std::size_t location,
                                                                  std::size_t length,
                                                                  sdk::Error& error) const {
    const std::size_t start = std::min(location, elements_.size());
    const std::size_t end = start + std::min(length, elements_.size() - start);
    return make(APMPValueList(elements_.begin() + static_cast<std::ptrdiff_t>(start),
                              elements_.begin() + static_cast<std::ptrdiff_t>(end)),
                reservation_.budget(), error);
}

std::shared_ptr<APMPArrayValue> APMPArrayValue::concat(APMPArguments values, const APMPScope& scope,
                                                       sdk::Error& error) const {
    double total = static_cast<double>(elements_.size());
    for (const auto& value : values) {
        if (value->kind() == APMPValueKind::kControl) {
            error = APMPError(APMPErrorCode::kArgumentKind);
            return nullptr;
        }
        total += value->kind() == APMPValueKind::kArray
                     ? static_cast<double>(static_cast<const APMPArrayValue&>(*value).count())
                     : 1;
    }
    error = APMPChargeWork(total, APMPRuntimeBudget::kCopiedElementsPerStep);
    if (!error.ok()) {
        return nullptr;
    }
    // Checked before the joined list is built.
    APMPMemoryReservation check(reservation_.budget());
    error = check.resize(bufferBytes(total));
    if (!error.ok()) {
        return nullptr;
    }
    APMPValueList joined = elements_;
    for (const auto& value : values) {
        if (value->kind() == APMPValueKind::kArray) {
            const auto& theirs = static_cast<const APMPArrayValue&>(*value).elements_;
            joined.insert(joined.end(), theirs.begin(), theirs.end());
        } else {
            joined.push_back(value);
        }
    }
    (void)check.resize(0);
    return APMPObjectManager::arrayValueWithArray(std::move(joined), scope, error);
}

void APMPArrayValue::reverse() {
    (void)APMPChargeWork(static_cast<double>(elements_.size()),
                         APMPRuntimeBudget::kCopiedElementsPerStep);
    std::reverse(elements_.begin(), elements_.end());
}

APMPValueRef APMPArrayValue::removeFirstElement() {
    if (elements_.empty()) {
        return APMPUndefined();
    }
    // Every other element moves down.
    (void)APMPChargeWork(static_cast<double>(elements_.size()),
                         APMPRuntimeBudget::kCopiedElementsPerStep);
    APMPValueRef first = std::move(elements_.front());
    elements_.erase(elements_.begin());
    return isHole(first) ? APMPUndefined() : first;
}

APMPValueRef APMPArrayValue::removeLastElement() {
    if (elements_.empty()) {
        return APMPUndefined();
    }
    APMPValueRef last = std::move(elements_.back());
    elements_.pop_back();
    return isHole(last) ? APMPUndefined() : last;
}

sdk::Error APMPArrayValue::prependElements(APMPArguments values) {
    const double count = static_cast<double>(elements_.size()) + static_cast<double>(values.size());
    // Every element moves up.
    sdk::Error error = APMPChargeWork(count, APMPRuntimeBudget::kCopiedElementsPerStep);
    if (error.ok()) {
        error = ensureCapacity(count);
    }
    if (!error.ok()) {
        return error;
    }
    elements_.insert(elements_.begin(), values.begin(), values.end());
    return {};
}

std::shared_ptr<APMPArrayValue> APMPArrayValue::spliceFrom(std::size_t start,
                                                           std::size_t deleteCount,
                                                           APMPArguments values,
                                                           const APMPScope& scope,
                                                           sdk::Error& error) {
    start = std::min(start, elements_.size());
    deleteCount = std::min(deleteCount, elements_.size() - start);
    const double newCount =
        static_cast<double>(elements_.size() - deleteCount) + static_cast<double>(values.size());
    // The tail moves; the removed and inserted elements are copied.
    error =
        APMPChargeWork(static_cast<double>(elements_.size()) + static_cast<double>(values.size()),
                       APMPRuntimeBudget::kCopiedElementsPerStep);
    if (!error.ok()) {
        return nullptr;
    }
    error = ensureCapacity(newCount);
    if (!error.ok()) {
        return nullptr;
    }
    const auto first = elements_.begin() + static_cast<std::ptrdiff_t>(start);
    const auto last = first + static_cast<std::ptrdiff_t>(deleteCount);
    APMPValueList removed(first, last);
    auto removedArray = APMPObjectManager::arrayValueWithArray(std::move(removed), scope, error);
    if (!removedArray) {
        return nullptr;
    }
    elements_.erase(first, last);
    elements_.insert(elements_.begin() + static_cast<std::ptrdiff_t>(start), values.begin(),
                     values.end());
    return removedArray;
}

std::int64_t APMPArrayValue::indexOfValue(const APMPRuntimeValue& value,
                                          std::size_t fromIndex) const {
    if (fromIndex < elements_.size()) {
        (void)APMPChargeWork(static_cast<double>(elements_.size() - fromIndex),
                             APMPRuntimeBudget::kScannedElementsPerStep);
    }
    for (std::size_t i = fromIndex; i < elements_.size(); ++i) {
        if (APMPStrictEquals(*elements_[i], value)) {
            return static_cast<std::int64_t>(i);
        }
    }
    return -1;
}

std::int64_t APMPArrayValue::lastIndexOfValue(const APMPRuntimeValue& value,
                                              std::int64_t fromIndex) const {
    if (fromIndex < 0 || elements_.empty()) {
        return -1;
    }
    (void)APMPChargeWork(
        static_cast<double>(std::min(fromIndex, static_cast<std::int64_t>(elements_.size()))),
        APMPRuntimeBudget::kScannedElementsPerStep);
    for (std::int64_t i = std::min(fromIndex, static_cast<std::int64_t>(elements_.size()) - 1);
         i >= 0; --i) {
        if (APMPStrictEquals(*elements_[static_cast<std::size_t>(i)], value)) {
            return i;
        }
    }
    return -1;
}

sdk::Error APMPArrayValue::sortUsingFunctionValue(
    const std::shared_ptr<APMPFunctionValue>& comparator) {
    if (elements_.size() < 2) {
        return {};
    }
    sdk::Error error;
    // -1, 0 or 1 for a before, equal to or after b.
    const auto compare = [&](const APMPValueRef& a, const APMPValueRef& b) -> int {
        if (!error.ok()) {
            return 0;
        }
        const int rankA = isHole(a) ? 2 : a->kind() == APMPValueKind::kUndefined ? 1 : 0;
        const int rankB = isHole(b) ? 2 : b->kind() == APMPValueKind::kUndefined ? 1 : 0;
        if (rankA != 0 || rankB != 0) {
            return rankA < rankB ? -1 : rankA > rankB ? 1 : 0;
        }
        if (comparator) {
            const APMPValueRef result = comparator->invokeAsCallback({a, b}, error);
            const double number = error.ok() ? result->doubleValueOrError(error) : 0;
            return !error.ok() || !(number != 0) ? 0 : number < 0 ? -1 : 1;
        }
        const std::u16string x = a->stringValueOrError(error);
        const std::u16string y = error.ok() ? b->stringValueOrError(error) : u"";
        return !error.ok() ? 0 : APMPCompareUnits(x, y);
    };
    // A merge sort compares and moves each element once per pass; a comparison without a
    // comparator converts both elements to strings, which costs about a step. A comparator
    // function pays its own calls.
    const auto count = static_cast<double>(elements_.size());
    const double passes = std::ceil(std::log2(count));
    error = APMPChargeWork(count * passes, APMPRuntimeBudget::kCopiedElementsPerStep);
    if (error.ok() && !comparator) {
        error = APMPChargeSteps(count * passes / 2);
    }
    if (!error.ok()) {
        return error;
    }
    // The copy and the merge buffer, checked before they are made.
    APMPMemoryReservation scratch(reservation_.budget());
    error = scratch.resize(2 * bufferBytes(count));
    if (!error.ok()) {
        return error;
    }
    // The sort works on a copy, so a comparator that changes the array cannot disturb it, and
    // a merge sort stays in bounds whatever the comparator answers.
    APMPValueList items = elements_;
    APMPValueList merged(items.size());
    for (std::size_t width = 1; width < items.size(); width *= 2) {
        for (std::size_t low = 0; low < items.size(); low += 2 * width) {
            const std::size_t mid = std::min(low + width, items.size());
            const std::size_t high = std::min(low + 2 * width, items.size());
            std::size_t i = low;
            std::size_t j = mid;
            std::size_t k = low;
            while (i < mid && j < high) {
                merged[k++] = compare(items[j], items[i]) < 0 ? items[j++] : items[i++];
            }
            while (i < mid) {
                merged[k++] = items[i++];
            }
            while (j < high) {
                merged[k++] = items[j++];
            }
        }
        items.swap(merged);
    }
    Released released;
    for (auto& element : elements_) {
        released.push_back(std::move(element));
    }
    // The sorted copy becomes the buffer: its capacity is its count.
    elements_ = std::move(items);
    merged.clear();
    merged.shrink_to_fit();
    (void)scratch.resize(0);
    accountBuffer();
    APMPReleaseAll(released);
    return error;
}

std::u16string APMPArrayValue::stringValueWithSeparator(std::u16string_view separator,
                                                        sdk::Error& error, int depth) const {
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return {};
    }
    // Every element visited is paid, so a walk through nested arrays that share themselves
    // ends with the budget however wide it fans out.
    error = APMPChargeWork(static_cast<double>(elements_.size()) + 1,
                           APMPRuntimeBudget::kScannedElementsPerStep);
    if (!error.ok()) {
        return {};
    }
    // The text grows in the budget's room (it is script memory while it is built) and its
    // units are paid as they are copied.
    APMPMemoryReservation scratch(APMPActiveBudgetReference());
    std::u16string out;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i > 0) {
            out.append(separator);
        }
        const APMPValueRef& element = elements_[i];
        const APMPValueKind kind = element->kind();
        if (isHole(element) || kind == APMPValueKind::kUndefined || kind == APMPValueKind::kNull) {
            continue;
        }
        out += element->stringValueAtDepth(error, depth + 1);
        if (!error.ok()) {
            return {};
        }
        // The joined text is as much script memory as any string: stop at the cap.
        if (static_cast<double>(out.size()) * sizeof(char16_t) >
            static_cast<double>(APMPRuntimeBudget::kMaxBytes)) {
            error = APMPError(APMPErrorCode::kLimitExceeded);
            return {};
        }
        if (APMPTextBufferBytes(out.capacity()) > static_cast<double>(scratch.bytes())) {
            error = scratch.resize(APMPTextBufferBytes(out.capacity()));
            if (!error.ok()) {
                return {};
            }
        }
    }
    error = APMPChargeWork(static_cast<double>(out.size()), APMPRuntimeBudget::kCopiedUnitsPerStep);
    return error.ok() ? out : std::u16string();
}

bool APMPArrayValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return true;
}

APMPValueRef APMPArrayValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                           const APMPScopeRef& scope, sdk::Error& error) {
    if (properties_ && properties_->hasName(name)) {
        return APMPInvokeProperty(*properties_, name, arguments, scope, error);
    }
    return APMPArrayCommandEvaluator::sharedInstance().evaluateCommand(name, *this, arguments,
                                                                       scope, error);
}

std::u16string APMPArrayValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    return stringValueWithSeparator(u",", error, depth);
}

double APMPArrayValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    const std::u16string joined = stringValueAtDepth(error, depth);
    return error.ok() ? APMPStringValue::numberFromString(joined)
                      : std::numeric_limits<double>::quiet_NaN();
}

bool APMPArrayValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                    int depth) const {
    if (this == &other) {
        return true;
    }
    if (other.kind() != APMPValueKind::kArray) {
        return false;
    }
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    const auto& theirs = static_cast<const APMPArrayValue&>(other).elements_;
    if (theirs.size() != elements_.size()) {
        return false;
    }
    error = APMPChargeWork(static_cast<double>(elements_.size()) + 1,
                           APMPRuntimeBudget::kScannedElementsPerStep);
    if (!error.ok()) {
        return false;
    }
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (!elements_[i]->isEqualAtDepth(*theirs[i], error, depth + 1) || !error.ok()) {
            return false;
        }
    }
    return true;
}

void APMPArrayValue::markReferences(APMPMarker& marker) const {
    if (properties_) {
        properties_->markValues(marker);
    }
    for (const auto& element : elements_) {
        marker.mark(element.get());
    }
}

void APMPArrayValue::releaseReferences(Released& released) {
    if (properties_) {
        properties_->releaseValues(released);
    }
    for (auto& element : elements_) {
        APMPRelease(released, std::move(element));
    }
    elements_.clear();
    elements_.shrink_to_fit();
    (void)reservation_.resize(objectBytes());
}
