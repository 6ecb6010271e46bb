// Reading a drive's identity through one access path, one variant per service
// type. Discovery uses them to judge and list drives; the per-drive step uses
// them to refresh a drive's row after an update.
//
// Each returns 1 and replaces `identity` completely on success, or returns 0
// with `error` set and `identity` untouched. All calls go through Framework().
#pragma once

#include "drive_table.h"

#include <corvane.h>

#include <cstdint>

namespace firmstep {

// IDENTIFY DEVICE (0xEC, PIO data-in, 512 bytes). SDSB port 1 addresses the
// second port (device 0xA2). The registers of the answer are not examined.
int ReadAtaIdentity(CvUID machine, AccessPath path, std::int32_t sdsbPort, DriveIdentity& identity,
                    CvError& error);

// Standard INQUIRY (96 bytes), VPD page 0x80 (64 bytes) and page 0x83 (76
// bytes), each sent again after UNIT ATTENTION. Any failed call, or a unit
// attention that outlasts the resends, fails the read; other SCSI statuses are
// not examined.
int ReadScsiIdentity(CvUID machine, AccessPath path, DriveIdentity& identity, CvError& error);

// Identify Controller, then Identify Namespace 1, each 4096 bytes with a 15 s
// time-out. A failed completion sets its status value as the code.
int ReadNvmeIdentity(CvUID machine, AccessPath path, DriveIdentity& identity, CvError& error);

// The variant for a row's type mark (kMarkAta, kMarkScsi or kMarkNvme); any
// other mark fails with code 4.
int ReadDriveIdentity(std::uint32_t typeMark, CvUID machine, AccessPath path, std::int32_t sdsbPort,
                      DriveIdentity& identity, CvError& error);

}  // namespace firmstep
