#include "sync/ChunkedMap.h"

#include <QMap>
#include <QString>
#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <numeric>
#include <random>

namespace {

// Chunks of four, so that a few dozen entries split, empty and drop chunks
// all the time.
using SmallMap = ChunkedMap<int, QString, 4>;

QMap<int, QString> contents(const SmallMap &map)
{
    QMap<int, QString> out;
    int previous = INT_MIN;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        EXPECT_LT(previous, it.key()) << "iteration leaves key order";
        previous = it.key();
        out.insert(it.key(), *it);
    }
    EXPECT_EQ(out.size(), map.size());
    return out;
}

// Every operation, chosen at random, does to the chunked map what it does
// to a QMap; copies taken along the way keep what they held.
TEST(ChunkedMapTest, BehavesAsAnOrderedMapThroughRandomChanges)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        SmallMap map;
        QMap<int, QString> expected;
        std::vector<std::pair<SmallMap, QMap<int, QString>>> copies;
        for (int step = 0; step < 2000; ++step) {
            const int key = int(random() % 60);
            const QString text = QString::number(step);
            switch (random() % 9) {
            case 0:
            case 1:
            case 2:
                map.insert(key, text);
                expected.insert(key, text);
                break;
            case 3:
                EXPECT_EQ(map.remove(key), expected.remove(key));
                break;
            case 4:
                EXPECT_EQ(map.take(key), expected.take(key));
                break;
            case 5: { // erase everything from a key up to a few entries on
                auto it = map.lowerBound(key);
                auto mirror = expected.lowerBound(key);
                for (int n = int(random() % 4); n > 0 && it != map.end(); --n) {
                    ASSERT_EQ(it.key(), mirror.key());
                    it = map.erase(it);
                    mirror = expected.erase(mirror);
                }
                EXPECT_EQ(it == map.end() ? -1 : it.key(), mirror == expected.end() ? -1 : mirror.key());
                break;
            }
            case 6:
                map[key] += QLatin1Char('x');
                expected[key] += QLatin1Char('x');
                break;
            case 7: {
                const auto found = map.find(key);
                if (found != map.end())
                    *found = text;
                if (expected.contains(key))
                    expected[key] = text;
                break;
            }
            case 8:
                if (copies.size() < 5)
                    copies.emplace_back(map, expected);
                break;
            }
            ASSERT_EQ(map.contains(key), expected.contains(key)) << "seed " << seed << " step " << step;
            ASSERT_EQ(map.value(key, QStringLiteral("none")), expected.value(key, QStringLiteral("none")));
            const auto bound = std::as_const(map).lowerBound(key);
            const auto expectedBound = std::as_const(expected).lowerBound(key);
            ASSERT_EQ(bound == map.cend(), expectedBound == expected.cend());
            if (bound != map.cend())
                ASSERT_EQ(bound.key(), expectedBound.key());
        }
        EXPECT_EQ(contents(map), expected) << "seed " << seed;
        for (const auto &[copy, held] : copies)
            EXPECT_EQ(contents(copy), held) << "seed " << seed;
    }
}

TEST(ChunkedMapTest, ACopySharesItsChunksUntilOneSideChanges)
{
    SmallMap map;
    for (int key = 0; key < 40; ++key)
        map.insert(key, QString::number(key));
    SmallMap copy = map;
    EXPECT_TRUE(map.isSharedWith(copy));
    EXPECT_EQ(map, copy);

    // Reading, even through a mutable lookup that finds nothing, shares on.
    EXPECT_EQ(map.find(99), map.end());
    EXPECT_EQ(map.value(7), QStringLiteral("7"));
    EXPECT_TRUE(map.isSharedWith(copy));

    map.insert(7, QStringLiteral("seven"));
    EXPECT_FALSE(map.isSharedWith(copy));
    EXPECT_FALSE(map == copy);
    EXPECT_EQ(copy.value(7), QStringLiteral("7"));
}

TEST(ChunkedMapTest, AscendingInsertsFillChunksAndEqualityIgnoresTheirBounds)
{
    SmallMap ascending;
    SmallMap shuffled;
    std::vector<int> keys(100);
    std::iota(keys.begin(), keys.end(), 0);
    for (int key : keys)
        ascending.insert(key, QString::number(key));
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    for (int key : keys)
        shuffled.insert(key, QString::number(key));
    EXPECT_EQ(ascending, shuffled);
    EXPECT_EQ(ascending.firstKey(), 0);
    EXPECT_EQ(ascending.lastKey(), 99);
    EXPECT_FALSE(ascending.isSharedWith(shuffled));

    for (int key : keys)
        shuffled.remove(key);
    EXPECT_TRUE(shuffled.isEmpty());
    EXPECT_EQ(shuffled.cbegin(), shuffled.cend());
    EXPECT_EQ(shuffled.lowerBound(3), shuffled.cend());
}

} // namespace
