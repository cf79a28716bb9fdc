// Another user's access to a node, as a service running as that user gets it: by the node's owner,
// group and mode, the class the user is in deciding.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/device_access.h"

namespace torvane {
namespace {

TEST(UserAccessLinux, TheClassOfTheUserDecides) {
    // nobody owns nothing here and is in none of this process's groups: the others' bits count.
    if (::geteuid() == 65534) {
        GTEST_SKIP() << "runs as nobody";
    }
    const std::filesystem::path node =
        std::filesystem::temp_directory_path() / ("torvane-node-" + std::to_string(::getpid()));
    std::ofstream(node).put('x');
    for (const auto& [mode, readWrite] :
         {std::pair{0666u, true}, {0606u, true}, {0660u, false}, {0604u, false}, {0602u, false}}) {
        ASSERT_EQ(::chmod(node.c_str(), mode), 0);
        const std::optional<UserNodeAccess> access = ExamineUserAccess("nobody", node);
        ASSERT_TRUE(access);
        EXPECT_EQ(access->readWrite, readWrite) << std::oct << mode;
        EXPECT_EQ(access->mode, mode);
        EXPECT_FALSE(access->group.empty());
    }
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    EXPECT_TRUE(ExamineUserAccess("root", node)->readWrite);
    EXPECT_FALSE(ExamineUserAccess("torvane-no-such-user", node));
    std::filesystem::remove(node);
    EXPECT_FALSE(ExamineUserAccess("nobody", node));
}

}  // namespace
}  // namespace torvane
