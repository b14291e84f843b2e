// The window's layout as data: its three pages, the groups and panels on them and the
// controls in each, in the order the window shows them (left to right, or top to bottom in a
// column). The window builds its pages from this table; the names people know the registers
// by (in the window's accessibility tree, in zev720ctl's output, in the venue server) are made
// from it. No Qt here.
//
// The table is an outline: each node has a depth, and the nodes after it with a greater depth
// are inside it. Pages are at depth 0.
#pragma once

#include "model/English.h"

#include <cstdint>
#include <span>
#include <string>

namespace zev {

enum class LayoutKind : std::uint8_t {
    Page,      ///< a tab; its children stand in a column, each given the same share
    Row,       ///< controls left to right, without a frame
    Column,    ///< controls top to bottom, without a frame
    Group,     ///< a framed group box with its caption as its title
    Panel,     ///< a frame; its caption, if any, is a label inside it (it can be disabled)
    Bar,       ///< a track bar: its caption above, its scale beside, its value label below
    Scale,     ///< the scale of a bar standing on its own, beside the bar before it
    Radio,     ///< the radio buttons of a choice register, in a column
    Check,     ///< a check box
    FixedMode, ///< the DSP mode's "固定模式" button and its number "P" (register 49)
};

/// Flags of a node.
enum LayoutFlag : std::uint8_t {
    kNoFlags = 0,
    kHideCaption = 1, ///< Bar: the enclosing group's title is its caption
    kSharedScale = 2, ///< Bar: its scale stands apart (a Scale node), shared with a neighbour
    kExpanding = 4,   ///< takes the room left over in its row
    kSpread = 8,      ///< Row and Column: the room left over goes between the controls
};

struct LayoutNode {
    int depth;
    LayoutKind kind;
    const char *caption = nullptr; ///< shown in the window; nullptr: none
    std::uint8_t address = 0;      ///< Bar, Scale, Radio, Check, FixedMode
    const char *name = nullptr;    ///< Group, Panel: its name for people where it shows none
    std::uint8_t flags = kNoFlags;
    const char *objectName = nullptr; ///< the design's name of a frame, where it has one
};

/// The whole outline, pages in the window's order.
std::span<const LayoutNode> windowLayout();

/// The nodes inside `index` (its direct children), as indexes into windowLayout().
std::span<const std::size_t> layoutChildren(std::size_t index);

/// Where a register's control sits in the window.
struct Placement {
    const char *page;  ///< "音乐调整", "话筒调整" or "效果调整"
    const char *group; ///< the innermost named group or panel around the control; "" on the page
};
Placement placementOf(std::uint8_t address);

/// The register's one name for people, unique among the 56: the caption of its control,
/// after the name of the innermost group or panel around it (or its page); further out
/// while two registers would still share a name ("音乐调整 7 BAND-EQ 16KHz",
/// "话筒调整 7 BAND-EQ 16KHz"). A caption that starts with that name stands alone ("合唱幅度"),
/// and a radio group is named by its own caption ("啸叫抑制模式"). Empty for an address that
/// carries no setting. In English: the same parts, each in English ("Music 7 BAND-EQ 16KHz").
const std::string &nameForPeople(std::uint8_t address, Language language = Language::Chinese);

/// The name of a group or panel for people: its caption, or its name where it shows none.
const char *layoutName(const LayoutNode &node);

} // namespace zev
