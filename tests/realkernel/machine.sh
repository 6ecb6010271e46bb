# The guest's hardware, shared by the suite and the diagnostic run: sourced by
# run.sh, it fills the array qemu_drives. Every disk is backed by QEMU's null
# block driver (reads return zeros, writes are dropped), so nothing touches a
# host disk or needs room on one.
#
# VT identities are recognised by model prefix ("VT") or by a WWN whose OUI is
# one of the maker's (0x02A001..0x02A006: NAA 5, so 0x502A00n...). Serial
# numbers name the disks in the asserts (RK...).
qemu_drives=()
disk_count=0
null_disk() { # adds a backend named d<N> and prints its name
  disk_count=$((disk_count + 1))
  qemu_drives+=(-blockdev "driver=null-co,node-name=d$disk_count,size=67108864,read-zeroes=on")
}
add_disk() { # DEVICE-PROPERTIES (without drive=)
  null_disk
  qemu_drives+=(-device "$1,drive=d$disk_count")
}

# Legacy IDE (PIIX, ata_piix): a VT disk by model and another maker's disk.
add_disk "ide-hd,bus=ide.0,unit=0,model=VT IDE-700,serial=RKIDE01,ver=VI01,wwn=0x502a002000000001"
add_disk "ide-hd,bus=ide.0,unit=1,model=Acme IDE 200,serial=RKIDE02,ver=AI01"

# AHCI (ahci): a VT disk by model and WWN, one by WWN alone, one of another maker.
qemu_drives+=(-device ahci,id=ahci0)
add_disk "ide-hd,bus=ahci0.0,model=VT AHCI-900,serial=RKAHCI01,ver=VA01,wwn=0x502a001000000001"
add_disk "ide-hd,bus=ahci0.1,model=Generic SATA 2,serial=RKAHCI02,ver=GS01,wwn=0x502a003000000002"
add_disk "ide-hd,bus=ahci0.2,model=Acme SATA 300,serial=RKAHCI03,ver=AS01"

# virtio-scsi (scsi-hd): many VT disks, which also make the guest's disk count
# large, and a few of another maker.
qemu_drives+=(-device virtio-scsi-pci,id=vscsi0)
for i in $(seq -w 1 22); do
  product=SAS-910
  [ "$i" = 01 ] && product=SAS-920  # a model of its own, so that it can be chosen alone
  add_disk "scsi-hd,bus=vscsi0.0,scsi-id=0,lun=$((10#$i)),vendor=VT,product=$product,ver=VS01,serial=RKVS$i"
done
for i in $(seq -w 23 26); do
  add_disk "scsi-hd,bus=vscsi0.0,scsi-id=0,lun=$((10#$i)),vendor=ACME,product=SAS-400,ver=AS01,serial=RKVS$i"
done

# USB mass storage (usb-storage), a VT disk behind a bulk-only bridge on a USB 2
# (EHCI) port, where the kernel limits a transfer to 120 KiB.
qemu_drives+=(-device usb-ehci,id=ehci0 -device usb-bot,bus=ehci0.0,id=bot0)
add_disk "scsi-hd,bus=bot0.0,scsi-id=0,lun=0,vendor=VT,product=USB-50,ver=VU01,serial=RKUSB01"

# NVMe: a controller of its own, and a subsystem with two controllers sharing a
# namespace (the kernel's native multipath). QEMU fixes their model and OUI, so
# these are other makers' drives; the VT NVMe drives come from the guest's NVMe
# target.
null_disk
qemu_drives+=(-device nvme,id=nvme0,serial=RKNVME01 -device "nvme-ns,bus=nvme0,drive=d$disk_count,nsid=1")
null_disk
qemu_drives+=(-device nvme-subsys,id=nvmess0,nqn=rk-multipath
              -device nvme,id=nvme1,serial=RKNVMEMP,subsys=nvmess0
              -device nvme,id=nvme2,serial=RKNVMEMP,subsys=nvmess0
              -device "nvme-ns,drive=d$disk_count,nsid=1,shared=on")
