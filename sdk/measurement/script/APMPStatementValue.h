#pragma once

#include <string>

#include "sdk/measurement/script/APMPRuntimeValue.h"

struct APMPResolvedCommand;

// What a statement holds, in a plain base (as APMPValueKindTag is): evaluation reads it at
// every step.
class APMPStatementParts {
  public:
    const std::u16string& functionName() const { return functionName_; }
    const APMPValueList& arguments() const { return arguments_; }

    // The evaluator and handler the registrar gives the name, looked up when the statement is
    // made (the registrar never changes) and kept with it.
    const APMPResolvedCommand& command() const { return command_; }

  protected:
    APMPStatementParts(std::u16string functionName, APMPValueList arguments);

    const std::u16string functionName_;
    APMPValueList arguments_;
    const APMPResolvedCommand& command_;
};

// A statement of a program: a command id or function name and its arguments, each a literal
// value or a nested statement. Evaluating it is the evaluator's work.
class APMPStatementValue : public APMPRuntimeValue, public APMPStatementParts {
  public:
    APMPStatementValue(std::u16string functionName, APMPValueList arguments);
    ~APMPStatementValue() override;

    // Equal names and pairwise equal arguments.
    bool isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error, int depth) const override;
    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;
};
