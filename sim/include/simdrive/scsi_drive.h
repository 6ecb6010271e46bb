// A simulated SCSI logical unit: INQUIRY with VPD pages 00h, 80h and 83h,
// TEST UNIT READY, REQUEST SENSE, READ CAPACITY, REPORT LUNS and WRITE BUFFER
// modes 05h, 07h, 0Eh and 0Fh. Refusals are CHECK CONDITION with fixed sense.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "simdrive/download_buffer.h"
#include "simdrive/drive.h"
#include "simdrive/scsi_bus.h"

namespace simdrive {

class ScsiDrive final : public SimDrive {
public:
    ScsiDrive(DriveConstruction, DriveDescription description, std::shared_ptr<const StateStore> store);

    // The bus entry point: one CDB from one nexus with its data phase.
    BusResult execute(const ScsiRequest& request, ScsiReply& reply);

private:
    void discardDownloads() override { download_.discard(); }

    // The additional sense of the unit attention pending for nexus, 0 when
    // none is: new microcode announced and not yet reported. A nexus met for
    // the first time has nothing pending.
    uint16_t pendingUnitAttention(uint32_t nexus);
    void clearUnitAttention(uint32_t nexus);
    void inquiry(const ScsiRequest& request, ScsiReply& reply);
    void requestSense(const ScsiRequest& request, ScsiReply& reply);
    void readCapacity10(const ScsiRequest& request, ScsiReply& reply);
    void readCapacity16(const ScsiRequest& request, ScsiReply& reply);
    void reportLuns(const ScsiRequest& request, ScsiReply& reply);
    void writeBuffer(const ScsiRequest& request, ScsiReply& reply);
    void writeBufferSegment(const ScsiRequest& request, ScsiReply& reply, uint8_t mode);
    void activateDeferred(const ScsiRequest& request, ScsiReply& reply);
    void installImage(const ScsiRequest& request, ScsiReply& reply, bool deferred);
    // Announces new microcode to every other nexus.
    void microcodeChanged(uint32_t activator);
    // With the fault set, tells the sender of an accepted microcode command too.
    void tellSender(const ScsiRequest& request, const ScsiReply& reply, uint8_t mode);

    SegmentedDownload download_;
    uint64_t microcodeGeneration_ = 0;
    std::map<uint32_t, uint64_t> nexusGeneration_;  // what each nexus has been told
    std::set<uint32_t> senderAttention_;            // nexuses told by tellSender, not yet reported
};

// Data-in payloads, exposed for the bus seams that synthesise their own answers.
std::vector<uint8_t> scsiStandardInquiry(const DriveDescription& description, const std::string& revision);
std::vector<uint8_t> scsiVpdPage(const DriveDescription& description, uint8_t page);  // empty: not supported

}  // namespace simdrive
