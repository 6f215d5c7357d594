// Admission at accept when the peer's owner cannot be told: the connection is
// admitted, stays open, and one WARNING says why.
#include "messaging/peer_admission.h"
#include "messaging_test_support.h"

namespace {

class PeerAdmissionTest : public DruxTest::LoggedTest {};

TEST_F(PeerAdmissionTest, AnUncheckablePeerIsAdmittedWithOneWarningThatSaysWhy) {
    // Never connected: it has no peer address to look up.
    const Drux::SocketHandle unconnected = Drux::socketCreate();
    const size_t before = logLines().size();
    Drux::LogLimiter warnings;
    EXPECT_TRUE(Drux::admitConnection(unconnected, 47311, warnings));
    const std::vector<std::string> lines = logLines();
    ASSERT_EQ(before + 1, lines.size());
    const std::string head = "WARNING: Could not check the user of a connection on port 47311 (";
    const std::string tail = "); admitting it.\n";
    EXPECT_EQ(head, lines.back().substr(0, head.size()));
    EXPECT_TRUE(lines.back().size() > head.size() + tail.size() &&
                lines.back().compare(lines.back().size() - tail.size(), tail.size(), tail) == 0)
        << lines.back();
    EXPECT_TRUE(Drux::socketClose(unconnected));  // admitted: left open for its agent
}

}  // namespace
