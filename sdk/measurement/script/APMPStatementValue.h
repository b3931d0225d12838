#pragma once

#include <string>

#include "sdk/measurement/script/APMPRuntimeValue.h"

struct APMPResolvedCommand;

// A statement of a program: a command id or function name and its arguments, each a literal
// value or a nested statement. Evaluating it is the evaluator's work.
class APMPStatementValue : public APMPRuntimeValue {
  public:
    APMPStatementValue(std::u16string functionName, APMPValueList arguments);
    ~APMPStatementValue() override;

    const std::u16string& functionName() const { return functionName_; }
    const APMPValueList& arguments() const { return arguments_; }

    // The evaluator and handler the registrar gives the name, looked up when the statement is
    // made (the registrar never changes) and kept with it.
    const APMPResolvedCommand& command() const { return command_; }

    // Equal names and pairwise equal arguments.
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    const std::u16string functionName_;
    APMPValueList arguments_;
    const APMPResolvedCommand& command_;
};
