// The line a host shows for its router.  The mapping itself runs against a
// real router in network namespaces (tests/e2e/RouterPortTest.sh): a unit
// test here would search the machine's own network.
#include <gtest/gtest.h>

#include "net/PortMapping.h"
#include "platform/Text1252.h"

TEST(PortMappingText, TellsTheAddressToGiveOrWhyThereIsNone) {
  EXPECT_EQ(ToUtf8(PortMappingText({}, {})), "Aucun routeur UPnP ni NAT-PMP trouvé");
  EXPECT_EQ(ToUtf8(PortMappingText("203.0.113.7", {{2048, 2048, false}})),
            "Le routeur a refusé le port 2048");
  EXPECT_EQ(PortMappingText("203.0.113.7", {{2048, 2048, true}}), "Adresse Internet : 203.0.113.7:2048");
  // The router may give another external port than the game's own: that is
  // the one to give.
  EXPECT_EQ(PortMappingText("203.0.113.7", {{2048, 40123, true}, {80, 8080, true}}),
            "Adresse Internet : 203.0.113.7:40123, web : port 8080");
  EXPECT_EQ(ToUtf8(PortMappingText("203.0.113.7", {{2048, 2048, true}, {80, 80, false}})),
            "Adresse Internet : 203.0.113.7:2048, le routeur a refusé le port 80");
  // The game port refused: the web port alone is no address to give.
  EXPECT_EQ(ToUtf8(PortMappingText("203.0.113.7", {{2048, 2048, false}, {80, 80, true}})),
            "Le routeur a refusé le port 2048");
}
