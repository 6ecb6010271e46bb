// The node table that gives the preloaded simulated kernel its drives: a
// mistake in it would leave a program with missing or shared device nodes.
#include <gtest/gtest.h>

#include "node_table.h"

namespace {

using simdrive::NodeEntry;

std::string Problem(const std::string& text)
{
    std::vector<NodeEntry> nodes{NodeEntry{"/dev/kept", {}, {}, {}}};
    std::string error;
    EXPECT_FALSE(simdrive::parseNodeTable(text, nodes, error)) << text;
    EXPECT_EQ(nodes.size(), 1u) << "a refused table leaves the caller's list alone";
    return error;
}

TEST(NodeTable, NodesWithDescriptionsAndNamespaces)
{
    const std::string text = "# drives\n"
                             "\n"
                             "  /dev/sda\tkind=ata; model=VT-2000 Series; serial=A1; revision=VT01  \n"
                             "/dev/nvme3 kind=nvme; model=VT NVMe; serial=N1; revision=VT01; namespaces=2\r\n"
                             "/dev/sdb kind=scsi; vendor=VT; product=SAS; serial=A1; revision=VT01";
    std::vector<NodeEntry> nodes;
    std::string error;
    ASSERT_TRUE(simdrive::parseNodeTable(text, nodes, error)) << error;
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].path, "/dev/sda");
    EXPECT_EQ(nodes[0].description.model, "VT-2000 Series");
    EXPECT_EQ(nodes[0].description.revision, "VT01");
    EXPECT_EQ(simdrive::nodePaths(nodes[0]), std::vector<std::string>{"/dev/sda"});
    // An NVMe controller answers on its namespaces' block devices too.
    EXPECT_EQ(simdrive::nodePaths(nodes[1]),
              (std::vector<std::string>{"/dev/nvme3", "/dev/nvme3n1", "/dev/nvme3n2"}));
    // The same serial on drives of different kinds names different state files.
    EXPECT_EQ(nodes[2].description.serial, "A1");

    // A second node of a drive: its own path, the drive's description.
    ASSERT_TRUE(simdrive::parseNodeTable(text + "\n/dev/sdf same-as /dev/sdb\n", nodes, error)) << error;
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[3].sameAs, "/dev/sdb");
    EXPECT_EQ(nodes[3].description.product, "SAS");
    EXPECT_EQ(simdrive::nodePaths(nodes[3]), std::vector<std::string>{"/dev/sdf"});

    // A queue limit in front of a description, or of a second node.
    ASSERT_TRUE(simdrive::parseNodeTable(text + "\n/dev/sdg [max_hw_sectors_kb=120] kind=ata; model=VT; serial=A9; "
                                                "revision=VT01\n/dev/sdh [ max_hw_sectors_kb=64 ] same-as /dev/sdb\n",
                                         nodes, error))
        << error;
    ASSERT_EQ(nodes.size(), 5u);
    EXPECT_EQ(nodes[0].queueLimit, 0u);
    EXPECT_EQ(nodes[3].queueLimit, 120u * 1024);
    EXPECT_EQ(nodes[3].description.serial, "A9");
    EXPECT_EQ(nodes[4].queueLimit, 64u * 1024);
    EXPECT_EQ(nodes[4].sameAs, "/dev/sdb");
}

TEST(NodeTable, RefusesTablesThatCannotBeServed)
{
    const std::string ata = " kind=ata; model=VT; serial=S1; revision=VT01\n";
    EXPECT_EQ(Problem("dev/sda" + ata), "line 1: node path 'dev/sda' is not absolute");
    EXPECT_EQ(Problem("# first\n/dev/sda   \n"), "line 2: node '/dev/sda' has no drive description");
    EXPECT_EQ(Problem("/dev/sda [max_hw_sectors_kb=120]\n"), "line 1: node '/dev/sda' has no drive description");
    EXPECT_EQ(Problem("/dev/sda [max_hw_sectors_kb=120" + ata), "line 1: node '/dev/sda' has no ']' after its options");
    for (const char* option : {"max_hw_sectors_kb=0", "max_hw_sectors_kb=12x", "max_hw_sectors_kb=", "colour=red",
                               "max_hw_sectors_kb=4194304"})
        EXPECT_EQ(Problem("/dev/sda [" + std::string(option) + "]" + ata),
                  "line 1: node '/dev/sda' option '" + std::string(option) + "' is not max_hw_sectors_kb=<KiB>");
    EXPECT_EQ(Problem("/dev/sda kind=ata; model=VT; serial=S1; revision=VT01; colour=red\n"),
              "line 1: node '/dev/sda': key 'colour': unknown key");
    EXPECT_EQ(Problem("/dev/sda" + ata + "/dev/sda kind=ata; model=VT; serial=S2; revision=VT01\n"),
              "line 2: node '/dev/sda' is given twice");
    // A disk may not take the node of a controller's namespace, nor the other way round.
    EXPECT_EQ(Problem("/dev/nvme0 kind=nvme; model=VT; serial=N1; revision=VT01\n/dev/nvme0n1" + ata),
              "line 2: node '/dev/nvme0n1' is given twice");
    EXPECT_EQ(Problem("/dev/nvme0n1" + ata + "/dev/nvme0 kind=nvme; model=VT; serial=N1; revision=VT01\n"),
              "line 2: node '/dev/nvme0n1' is given twice");
    // A second node must name an earlier drive node, and a node of its own.
    EXPECT_EQ(Problem("/dev/sdb same-as /dev/sda\n"), "line 1: node '/dev/sdb': '/dev/sda' is no earlier drive node");
    EXPECT_EQ(Problem("/dev/sda" + ata + "/dev/sda same-as /dev/sda\n"), "line 2: node '/dev/sda' is given twice");
    // Two drives of one kind and serial would share one state file.
    EXPECT_EQ(Problem("/dev/sda" + ata + "/dev/sdb" + ata), "line 2: serial 'S1' is already used by node '/dev/sda'");
}

}  // namespace
