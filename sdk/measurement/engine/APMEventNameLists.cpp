#include "sdk/measurement/engine/APMEventNameLists.h"

#include <memory>
#include <set>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace {

using NameSet = std::set<std::string, std::less<>>;

bool contains(const NameSet& set, std::string_view name) {
    return set.find(name) != set.end();
}

}  // namespace

const std::map<std::int64_t, std::string>& APMErrorCodeNames() {
    static const std::map<std::int64_t, std::string> names = {
        {0, "NoError"},
        {1, "InvalidVUDAppID"},
        {2, "InvalidEventName"},
        {3, "InvalidParameterName"},
        {4, "InvalidParameterValue"},
        {5, "ParameterLimitReached"},
        {6, "InvalidUserPropertyName"},
        {7, "UserPropertyValueTooLong"},
        {8, "EventLimitReached"},
        {9, "UserPropertyLimitReached"},
        {10, "ConversionEventLimitReached"},
        {11, "EventIsBlocked"},
        {12, "UserPropertyIsBlocked"},
        {13, "EventNameIsReserved"},
        {14, "ParameterNameIsReserved"},
        {15, "UserPropertyNameIsReserved"},
        {16, "PublicEventLimitReached"},
        {17, "TooManyExtraParamEvents"},
        {18, "ValueIsNotNumeric"},
        {19, "CurrencyCodeIsMissingOrInvalid"},
        {20, "InvalidArrayParamName"},
        {21, "InvalidArrayParamEventName"},
        {22, "InvalidArrayParamNesting"},
        {23, "CustomParamsInArrayElement"},
        {28, "ItemScopedCustomParameterLimitReached"},
    };
    return names;
}

bool APMIsEcommerceEvent(std::string_view name) {
    static const NameSet& names = *new NameSet{
        "add_payment_info",
        "add_shipping_info",
        "add_to_cart",
        "add_to_wishlist",
        "begin_checkout",
        "purchase",
        "refund",
        "remove_from_cart",
        "select_item",
        "select_promotion",
        "view_cart",
        "view_item",
        "view_item_list",
        "view_promotion",
        "ecommerce_purchase",
        "checkout_progress",
        "purchase_refund",
        "select_content",
        "set_checkout_option",
        "view_search_results",
    };  // lives for the process
    return contains(names, name);
}

bool APMIsItemParameter(std::string_view name) {
    static const NameSet& names = *new NameSet{
        "affiliation",     "coupon",         "creative_name",
        "creative_slot",   "currency",       "discount",
        "index",           "item_id",        "item_brand",
        "item_category",   "item_category2", "item_category3",
        "item_category4",  "item_category5", "item_list_name",
        "item_list_id",    "item_name",      "item_variant",
        "location_id",     "payment_type",   "price",
        "promotion_id",    "promotion_name", "quantity",
        "shipping",        "shipping_tier",  "tax",
        "transaction_id",  "value",          "checkout_step",
        "checkout_option", "item_list",      "item_location_id",
    };  // lives for the process
    return contains(names, name);
}

bool APMIsPurchaseEvent(std::string_view name) {
    static const NameSet& names =
        *new NameSet{"_iap", "purchase", "ecommerce_purchase"};  // lives for the process
    return contains(names, name);
}

bool APMIsDefaultConversionEvent(std::string_view name) {
    static const NameSet& names = *new NameSet{"ecommerce_purchase", "_f", "_iap", "purchase",
                                               "refund"};  // lives for the process
    return contains(names, name);
}

bool APMIsNotErrorName(std::string_view name) {
    return name != "_err";
}

namespace {
constexpr std::string_view kScreenParameters[] = {"_si", "_sc", "_sn"};
}

bool APMHasScreenParameters(const APMParameters& parameters) {
    for (std::string_view name : kScreenParameters) {
        if (parameters.find(name) != parameters.end())
            return true;
    }
    return false;
}

APMParameters APMScreenParametersFromEvent(const APMParameters& parameters) {
    APMParameters screen;
    for (std::string_view name : kScreenParameters) {
        if (auto it = parameters.find(name); it != parameters.end())
            screen.insert(*it);
    }
    return screen;
}

APMParameters APMRemoveGADParameters(const APMParameters& parameters) {
    APMParameters kept;
    for (const auto& entry : parameters) {
        if (!entry.first.starts_with("cad_"))
            kept.insert(entry);
    }
    return kept;
}

bool APMHasArrayParameter(const APMParameters& parameters) {
    for (const auto& entry : parameters) {
        if (entry.second.isArray())
            return true;
    }
    return false;
}

int APMCompareEnglish(const std::string* a, const std::string* b) {
    if (a == nullptr)
        return -1;
    if (b == nullptr)
        return 1;
    // One collator per thread: a collator keeps working state while it compares.
    thread_local const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(
            icu::Collator::createInstance(icu::Locale("en_US"), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    if (collator == nullptr)
        return a->compare(*b) < 0 ? -1 : (a->compare(*b) > 0 ? 1 : 0);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compareUTF8(*a, *b, status);
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}
