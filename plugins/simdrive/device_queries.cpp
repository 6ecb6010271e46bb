// Capabilities, settings and abilities of the ATA and SCSI services.
#include "device_queries.h"

#include <cstring>

namespace cvpl_simdrive {

int answerQuery(DeviceUnit& unit, const QueryAnswers& answers, CvCommand* command, CvError* error) {
    DeviceTimeoutAccess timeout{&unit, [](void* owner) { return static_cast<DeviceUnit*>(owner)->timeoutNs.load(); },
                                [](void* owner, uint64_t value) { static_cast<DeviceUnit*>(owner)->timeoutNs.store(value); }};
    return DeviceContract_AnswerQuery(&answers, &timeout, command, error);
}

}  // namespace cvpl_simdrive
