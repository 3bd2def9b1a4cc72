// The single-instance and updater rules from gathered facts: what Wine cannot show (a second
// user, private namespaces) is decided here from what each would give.
#include <gtest/gtest.h>

#include "setup/setup.h"

namespace {

TEST(Instance, ANameOthersHoldStopsNoSetup)
{
    const struct {
        InstanceName global, privateName;
        InstanceVerdict verdict;
    } cases[] = {
        // Windows: the private namespace guards, whoever holds the global name.
        {kNameOurs, kNameOurs, kInstanceGuarded},
        {kNameTaken, kNameOurs, kInstanceGuarded},
        {kNameOurs, kNameSetup, kInstanceAnotherSetup},
        {kNameTaken, kNameSetup, kInstanceAnotherSetup},
        // An older setup holds the global name (made by an administrator or the system).
        {kNameSetup, kNameOurs, kInstanceAnotherSetup},
        {kNameSetup, kNameFailed, kInstanceAnotherSetup},
        // The namespace could not be made: the global name alone guards, when it is ours.
        {kNameOurs, kNameFailed, kInstanceGuarded},
        {kNameTaken, kNameFailed, kInstanceNoGuard},
        // No private namespaces (Wine): the global name, owner-checked.
        {kNameOurs, kNameUnsupported, kInstanceGuarded},
        {kNameSetup, kNameUnsupported, kInstanceAnotherSetup},
        {kNameTaken, kNameUnsupported, kInstanceUnguarded},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideInstance(c.global, c.privateName), c.verdict) << c.global << " " << c.privateName;
}

TEST(Updater, AStandardUsersProgramInHerOwnFolderIsNoUpdater)
{
    const struct {
        const char* what;
        UpdaterFacts facts;  // path, token, elevated, folder known, folder writable
        bool counts;
    } cases[] = {
        {"the installed updater, run by the user", {true, true, false, true, false}, true},
        {"the installed updater, run elevated", {true, true, true, true, false}, true},
        {"a program of the name elevated, anywhere", {true, true, true, true, true}, true},
        {"a user's program of the name in her folder", {true, true, false, true, true}, false},
        {"the image path unreadable: the name decides", {false, false, false, false, false}, true},
        {"the token unreadable", {true, false, false, true, true}, true},
        {"the folder's security unreadable", {true, true, false, false, false}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(CountsAsUpdater(c.facts), c.counts) << c.what;
}

}  // namespace
