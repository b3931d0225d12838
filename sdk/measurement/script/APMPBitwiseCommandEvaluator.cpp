#include "sdk/measurement/script/APMPBitwiseCommandEvaluator.h"

#include <cstdint>

#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPOperands.h"

namespace {

std::uint32_t shiftCount(double b) {
    return APMPToUint32(b) & 31U;
}

double bitAnd(double a, double b) {
    return APMPToInt32(a) & APMPToInt32(b);
}
double bitOr(double a, double b) {
    return APMPToInt32(a) | APMPToInt32(b);
}
double bitXor(double a, double b) {
    return APMPToInt32(a) ^ APMPToInt32(b);
}
double bitNot(double a, double) {
    return ~APMPToInt32(a);
}
double shiftLeft(double a, double b) {
    // Shifted as unsigned, so bits leaving the top are dropped without overflow.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(APMPToInt32(a)) << shiftCount(b));
}
double shiftRight(double a, double b) {
    return APMPToInt32(a) >> shiftCount(b);
}
double shiftRightUnsigned(double a, double b) {
    return APMPToUint32(a) >> shiftCount(b);
}

}  // namespace

APMPBitwiseCommandEvaluator::APMPBitwiseCommandEvaluator()
    : APMPCommandEvaluator(Arguments::kEvaluated) {
    addHandler(u"56", APMPNumberCommand<bitAnd, 2>);
    addHandler(u"59", APMPNumberCommand<bitOr, 2>);
    addHandler(u"62", APMPNumberCommand<bitXor, 2>);
    addHandler(u"58", APMPNumberCommand<bitNot, 1>);
    addHandler(u"57", APMPNumberCommand<shiftLeft, 2>);
    addHandler(u"60", APMPNumberCommand<shiftRight, 2>);
    addHandler(u"61", APMPNumberCommand<shiftRightUnsigned, 2>);
}
