#include "sdk/measurement/script/APMPEquality.h"

#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    sdk::Error ignored;
    switch (a.kind()) {
        case APMPValueKind::kNumber:
        case APMPValueKind::kBoolean:
            return a.doubleValueOrError(ignored) == b.doubleValueOrError(ignored);
        case APMPValueKind::kString: {
            const std::u16string& x = static_cast<const APMPStringValue&>(a).value();
            const std::u16string& y = static_cast<const APMPStringValue&>(b).value();
            if (x.size() != y.size()) {
                return false;
            }
            // A budget this spends fails the next evaluation step.
            (void)APMPChargeWork(static_cast<double>(x.size()),
                                 APMPRuntimeBudget::kCopiedUnitsPerStep);
            return APMPSameUnits(x, y);
        }
        default:
            return &a == &b;
    }
}

int APMPLooseTypeRank(const APMPRuntimeValue& value) {
    switch (value.kind()) {
        case APMPValueKind::kUndefined:
        case APMPValueKind::kNull:
            return 0;
        case APMPValueKind::kNumber:
        case APMPValueKind::kBoolean:
            return 1;
        case APMPValueKind::kString:
            return 2;
        default:
            return 3;
    }
}

bool APMPLooseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, sdk::Error& error) {
    const bool aLeads = APMPLooseTypeRank(a) <= APMPLooseTypeRank(b);
    const APMPRuntimeValue& lower = aLeads ? a : b;
    const APMPRuntimeValue& other = aLeads ? b : a;
    switch (APMPLooseTypeRank(lower)) {
        case 0:
            return APMPLooseTypeRank(other) == 0;
        case 1: {
            const double x = lower.doubleValueOrError(error);
            const double y = error.ok() ? other.doubleValueOrError(error) : 0;
            return error.ok() && x == y;
        }
        case 2: {
            const std::u16string x = lower.stringValueOrError(error);
            const std::u16string y = error.ok() ? other.stringValueOrError(error) : u"";
            return error.ok() && APMPSameUnits(x, y);
        }
        default:
            return &a == &b;
    }
}
