#include "sdk/measurement/script/APMPRuntime.h"

#include <variant>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPRequire.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"
#include "sdk/measurement/script/APMPRuntimePlatform.h"

APMPRuntime::APMPRuntime()
    : initScope_(APMPScope::make()),
      apiProvider_(std::make_shared<APMPDynamicProvider>()),
      objectManager_(std::make_shared<APMPObjectManager>()) {
    // The root gets the manager before the global scope is made, so the global scope's names
    // are accounted like every other scope's.
    initScope_->setObjectManager(objectManager_);
    globalScope_ = initScope_->createChildScope();
    objectManager_->addRoot(initScope_);
    objectManager_->addRoot(globalScope_);

    auto require = std::make_shared<APMPRequire>(apiProvider_);
    objectManager_->addObject(require);
    // The global scope has no budgeted names and is not frozen: this store cannot fail.
    const sdk::Error error = globalScope_->setValue(std::move(require), u"require");
    (void)error;

    apiProvider_->setModuleCreator([] { return std::make_shared<APMPRuntimePlatform>(); },
                                   u"internal.platform");
    resetInstructionCount();
}

APMPRuntime::~APMPRuntime() {
    objectManager_->releaseAll();
}

void APMPRuntime::setModuleCreator(APMPDynamicProvider::Creator creator,
                                   const std::u16string& name) {
    apiProvider_->setModuleCreator(std::move(creator), name);
}

APMPValueRef APMPRuntime::executeStatements(const APMPBRepeatedArray& entities, sdk::Error& error) {
    APMPValueRef result = APMPUndefined();
    for (const auto& element : entities) {
        const auto* entity = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
        if (entity == nullptr || *entity == nullptr) {
            error = APMPError(APMPErrorCode::kInvalidEntityType);
            return APMPUndefined();
        }
        const APMPValueRef statement =
            APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(**entity, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
        result = APMPEvaluator::evaluateStatement(statement, globalScope_, error);
        if (!error.ok()) {
            return APMPUndefined();
        }
    }
    return result;
}

APMPScopeRef APMPRuntime::getRunScope() {
    return globalScope_->createChildScope();
}

std::int32_t APMPRuntime::getInstructionCount(sdk::Error& error) const {
    (void)error;
    return objectManager_->budget()->instructionCount();
}

void APMPRuntime::resetInstructionCount() {
    objectManager_->budget()->resetInstructionCount();
}

void APMPRuntime::addGarbageCollectionRoot(const std::shared_ptr<APMPMarkable>& root) {
    objectManager_->addRoot(root);
}

void APMPRuntime::collectGarbage() {
    objectManager_->collectGarbage();
}
