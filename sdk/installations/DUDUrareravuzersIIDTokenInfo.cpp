#include "sdk/installations/DUDUrareravuzersIIDTokenInfo.h"

#include "sdk/utilities/VDUKeyedUnarchiver.h"

std::shared_ptr<DUDUrareravuzersIIDTokenInfo> DUDUrareravuzersIIDTokenInfo::initWithCoder(
    VDUKeyedUnarchiver& coder) {
    auto info = std::make_shared<DUDUrareravuzersIIDTokenInfo>();
    info->token = coder.decodeString("token");
    return info;
}
