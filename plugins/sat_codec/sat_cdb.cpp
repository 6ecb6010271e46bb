// Building ATA PASS-THROUGH command blocks.
#include "sat_codec/sat_cdb.h"

namespace sat {

namespace {

// Byte 2 of both blocks.
constexpr uint8_t kCheckCondition = 0x20;
constexpr uint8_t kFromDevice = 0x08;     // T_DIR
constexpr uint8_t kLengthInBlocks = 0x04; // BYT_BLOK
constexpr uint8_t kLengthInCount = 0x02;  // T_LENGTH 2

uint8_t protocolByte(const Command& command, bool extend) {
    return static_cast<uint8_t>(static_cast<uint8_t>(command.protocol) << 1 | (extend ? 1 : 0));
}

uint8_t transferByte(const Command& command) {
    uint8_t value = command.checkCondition ? kCheckCondition : 0;
    if (command.transfer != Transfer::None) value |= kLengthInBlocks | kLengthInCount;
    if (command.transfer == Transfer::FromDevice) value |= kFromDevice;
    return value;
}

}  // namespace

std::array<uint8_t, kCdb16Length> buildCdb16(const Command& command) {
    const Taskfile& tf = command.taskfile;
    std::array<uint8_t, kCdb16Length> cdb{};
    cdb[0] = kOpAtaPassThrough16;
    cdb[1] = protocolByte(command, command.extend);
    cdb[2] = transferByte(command);
    if (command.extend) {
        cdb[3] = tf.featuresExp;
        cdb[5] = tf.countExp;
        cdb[7] = tf.lbaLowExp;
        cdb[9] = tf.lbaMidExp;
        cdb[11] = tf.lbaHighExp;
    }
    cdb[4] = tf.features;
    cdb[6] = tf.count;
    cdb[8] = tf.lbaLow;
    cdb[10] = tf.lbaMid;
    cdb[12] = tf.lbaHigh;
    cdb[13] = tf.device;
    cdb[14] = tf.command;
    return cdb;
}

std::array<uint8_t, kCdb12Length> buildCdb12(const Command& command) {
    const Taskfile& tf = command.taskfile;
    std::array<uint8_t, kCdb12Length> cdb{};
    cdb[0] = kOpAtaPassThrough12;
    cdb[1] = protocolByte(command, false);
    cdb[2] = transferByte(command);
    cdb[3] = tf.features;
    cdb[4] = tf.count;
    cdb[5] = tf.lbaLow;
    cdb[6] = tf.lbaMid;
    cdb[7] = tf.lbaHigh;
    cdb[8] = tf.device;
    cdb[9] = tf.command;
    return cdb;
}

}  // namespace sat
