// The dialog-template walk decides whether the platform may build a dialog
// from a template copy: every sound template (classic or extended, with
// fonts, ordinals and creation data) walks to its exact end, and a template
// cut anywhere, or shaped so that readers of the format would disagree, is
// refused before the platform reads past it.
#include <gtest/gtest.h>

#include "package/dialogs.h"
#include "pkg/resources.h"
#include "support.h"

using pkg::Bytes;
using testsupport::dialogTemplate;

namespace {

uint32_t walk(const Bytes& t, DialogShape* shape = nullptr) {
    uint32_t walked = walkDialogTemplate(t.data(), static_cast<uint32_t>(t.size()));
    if (shape) EXPECT_EQ(describeDialogTemplate(t.data(), static_cast<uint32_t>(t.size()), shape), walked);
    return walked;
}

TEST(DialogWalk, SoundTemplatesWalkToTheirEnd) {
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        for (int items : {0, 1, 5}) {
            Bytes t = dialogTemplate("Caption", items, extended);
            DialogShape shape{};
            EXPECT_EQ(walk(t, &shape), t.size()) << items;
            EXPECT_EQ(shape.extended, extended);
            EXPECT_EQ(shape.items, items);
            EXPECT_EQ(shape.width, 200);
            EXPECT_EQ(shape.height, 100);
            EXPECT_EQ(t[shape.caption], 'C');
            // Bytes behind the template are not the template's.
            Bytes longer = t;
            longer.resize(t.size() + 64, 0xEE);
            EXPECT_EQ(walk(longer), t.size());
        }
    }
}

// The ids the walk lists are the items' own, in order, in both forms (an
// extended item's id is 32 bits); a refused template lists none, and a
// short list still counts every item.
TEST(DialogWalk, ControlIdsInOrder) {
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        Bytes t = dialogTemplate("Caption", 3, extended);
        uint32_t ids[8] = {0};
        ASSERT_EQ(dialogControlIds(t.data(), static_cast<uint32_t>(t.size()), ids, 8), 3u);
        EXPECT_EQ(ids[0], 1000u);
        EXPECT_EQ(ids[1], 1001u);
        EXPECT_EQ(ids[2], 1002u);
        uint32_t one[1] = {0};
        EXPECT_EQ(dialogControlIds(t.data(), static_cast<uint32_t>(t.size()), one, 1), 3u);
        EXPECT_EQ(one[0], 1000u);
        EXPECT_EQ(dialogControlIds(t.data(), static_cast<uint32_t>(t.size() - 1), ids, 8), 0u);
    }
    Bytes wide = dialogTemplate("Caption", 1, true);
    size_t at = wide.size() - 2 - 4 - 2 * 7 - 4;  // creation count, class, title "Text 0", then the id
    wide[at + 2] = 0x01;  // id 0x000103E8
    uint32_t id = 0;
    ASSERT_EQ(dialogControlIds(wide.data(), static_cast<uint32_t>(wide.size()), &id, 1), 1u);
    EXPECT_EQ(id, 0x103E8u);
}

TEST(DialogWalk, NamesOrdinalsMenusAndCreationData) {
    // Classic header without a font: menu as an ordinal, class as a string.
    Bytes t;
    pkg::put32(t, 0x10000000);  // WS_VISIBLE, no DS_SETFONT
    pkg::put32(t, 0);
    pkg::put16(t, 2);
    for (int v : {0, 0, 50, 40}) pkg::put16(t, static_cast<uint16_t>(v));
    pkg::put16(t, 0xFFFF);
    pkg::put16(t, 7);  // menu ordinal
    testsupport::putWide(t, "MyClass");
    testsupport::putWide(t, "");
    // Item 1: class and title as strings, 4 bytes of creation data.
    while (t.size() % 4) t.push_back(0);
    t.resize(t.size() + 18, 0);
    testsupport::putWide(t, "Button");
    testsupport::putWide(t, "OK");
    pkg::put16(t, 4);
    pkg::put32(t, 0xDEADBEEF);
    // Item 2: title as an ordinal (an icon), no data.
    while (t.size() % 4) t.push_back(0);
    t.resize(t.size() + 18, 0);
    pkg::put16(t, 0xFFFF);
    pkg::put16(t, 0x0082);
    pkg::put16(t, 0xFFFF);
    pkg::put16(t, 800);
    pkg::put16(t, 0);
    EXPECT_EQ(walk(t), t.size());

    // The same with an odd creation-data count: readers of the format take
    // it differently, so it is refused.
    Bytes odd = t;
    size_t countAt = 0;
    for (size_t k = 0; k + 6 <= odd.size(); k += 2)
        if (odd[k] == 4 && odd[k + 1] == 0 && odd[k + 2] == 0xEF && odd[k + 3] == 0xBE) countAt = k;
    ASSERT_NE(countAt, 0u);
    odd[countAt] = 3;
    EXPECT_EQ(walk(odd), 0u);
}

TEST(DialogWalk, CutAnywhereIsRefused) {
    for (bool extended : {false, true}) {
        Bytes t = dialogTemplate("Cut", 3, extended);
        for (size_t keep = 0; keep < t.size(); keep++)
            EXPECT_EQ(walk(Bytes(t.begin(), t.begin() + keep)), 0u) << keep << (extended ? " extended" : "");
    }
    // A string without its terminator up to the end of the bytes.
    Bytes t = dialogTemplate("Endless", 0);
    t.resize(t.size() - 2);
    t.push_back('x');
    t.push_back(0);
    t.resize(t.size() - 1);
    EXPECT_EQ(walk(t), 0u);
}

TEST(DialogWalk, AmbiguousHeadersAreRefused) {
    // A signature of 0xFFFF with a version other than 1.
    Bytes t = dialogTemplate("Version", 1, true);
    t[0] = 2;
    EXPECT_EQ(walk(t), 0u);
    // Point size 0x7FFF: some readers skip the face name, others do not.
    for (bool extended : {false, true}) {
        Bytes f = dialogTemplate("Font", 1, extended);
        size_t points = 0;
        for (size_t k = extended ? 26 : 18; k + 1 < f.size(); k += 2)
            if (f[k] == 8 && f[k + 1] == 0) {
                points = k;
                break;
            }
        ASSERT_NE(points, 0u);
        f[points] = 0xFF;
        f[points + 1] = 0x7F;
        EXPECT_EQ(walk(f), 0u);
    }
    // An item count far beyond the bytes.
    Bytes many = dialogTemplate("Many", 1);
    many[8] = 0xFF;
    many[9] = 0xFF;
    EXPECT_EQ(walk(many), 0u);
}

TEST(DialogWalk, ToolRefusesBlobsTheInstallerWouldNotShow) {
    std::map<unsigned, Bytes> dialogs;
    for (unsigned n : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u}) dialogs[n] = dialogTemplate("T" + std::to_string(n));
    Bytes blob = pkg::templateBlobFromDialogs(dialogs, "good.res");
    EXPECT_NO_THROW(pkg::checkTemplateBlob(blob, "good"));
    dialogs[9][8] = 5;  // more items than it holds: they would run past the blob
    EXPECT_THROW(pkg::templateBlobFromDialogs(dialogs, "cut.res"), pkg::ResourceError);
    Bytes noIndex(8, 0);
    EXPECT_THROW(pkg::checkTemplateBlob(noIndex, "tiny"), pkg::ResourceError);
}

}  // namespace
