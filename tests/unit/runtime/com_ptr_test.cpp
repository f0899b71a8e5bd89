// Reference counting of com_ptr against a counted object that records every
// AddRef and Release, so a leaked or doubled reference shows as a wrong count.
#include "runtime/com_ptr.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

class IWidget : public IUnknown {
public:
    virtual int Value() = 0;
};

// {6B1E0C4A-2F7D-4E51-9C3A-8D0F1B2A3C4D}, an identifier for the test only.
constexpr IID IID_IWidget = {0x6B1E0C4A, 0x2F7D, 0x4E51, {0x9C, 0x3A, 0x8D, 0x0F, 0x1B, 0x2A, 0x3C, 0x4D}};

// Lives on the test's stack: the count is only observed, never used to delete.
class counted_widget : public IWidget {
public:
    explicit counted_widget(ULONG initial_refs) : refs(initial_refs) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IWidget) {
            *ppv = static_cast<IWidget*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    int Value() override { return 42; }

    ULONG refs;
};

TEST(ComPtr, AttachAdoptsAndDestructionReleasesOnce) {
    counted_widget widget(1);
    {
        com_ptr<IWidget> holder;
        holder.attach(&widget);
        EXPECT_EQ(widget.refs, 1u);
        EXPECT_EQ(holder->Value(), 42);
    }
    EXPECT_EQ(widget.refs, 0u);
}

TEST(ComPtr, ConstructionFromRawPointerTakesItsOwnReference) {
    counted_widget widget(1);
    {
        com_ptr<IWidget> holder(&widget);
        EXPECT_EQ(widget.refs, 2u);
    }
    EXPECT_EQ(widget.refs, 1u);
}

TEST(ComPtr, CopiesShareAndMovesTransferOwnership) {
    counted_widget widget(0);
    com_ptr<IWidget> first(&widget);
    com_ptr<IWidget> copy = first;
    EXPECT_EQ(widget.refs, 2u);

    com_ptr<IWidget> moved = std::move(copy);
    EXPECT_EQ(widget.refs, 2u);
    EXPECT_FALSE(copy);
    EXPECT_EQ(moved.get(), &widget);

    com_ptr<IWidget>& alias = moved;
    moved = alias;  // self-assignment keeps exactly one reference
    EXPECT_EQ(widget.refs, 2u);
    moved = std::move(alias);
    EXPECT_EQ(widget.refs, 2u);
    EXPECT_EQ(moved.get(), &widget);

    counted_widget other(0);
    com_ptr<IWidget> second(&other);
    moved = second;  // releases the old target, shares the new one
    EXPECT_EQ(widget.refs, 1u);
    EXPECT_EQ(other.refs, 2u);
    moved = com_ptr<IWidget>();
    EXPECT_EQ(other.refs, 1u);
}

TEST(ComPtr, PutReleasesTheCurrentReferenceBeforeTheCalleeWrites) {
    counted_widget old_target(0);
    counted_widget new_target(1);
    com_ptr<IWidget> holder(&old_target);

    IWidget** slot = holder.put();
    EXPECT_EQ(old_target.refs, 0u);
    EXPECT_EQ(*slot, nullptr);
    *slot = &new_target;  // the callee hands over its reference
    EXPECT_EQ(holder.get(), &new_target);
    holder.reset();
    EXPECT_EQ(new_target.refs, 0u);
}

TEST(ComPtr, DetachHandsTheReferenceToTheCaller) {
    counted_widget widget(0);
    com_ptr<IWidget> holder(&widget);
    IWidget* raw = holder.detach();
    EXPECT_EQ(raw, &widget);
    EXPECT_FALSE(holder);
    EXPECT_EQ(widget.refs, 1u);
    raw->Release();
}

TEST(ComPtr, QueryInterfaceHoldsTheAnsweredInterface) {
    counted_widget widget(1);
    com_ptr<IUnknown> unknown;
    unknown.attach(&widget);

    com_ptr<IWidget> as_widget;
    ASSERT_EQ(query_interface(unknown, IID_IWidget, as_widget), S_OK);
    EXPECT_EQ(as_widget->Value(), 42);
    EXPECT_EQ(widget.refs, 2u);
    as_widget.reset();
    EXPECT_EQ(widget.refs, 1u);
}

TEST(ComPtr, FailedQueryLeavesTheTargetEmptyAndPassesTheStatus) {
    counted_widget widget(1);
    counted_widget previous(0);
    com_ptr<IClassFactory> factory;

    EXPECT_EQ(query_interface(&widget, IID_IClassFactory, factory), E_NOINTERFACE);
    EXPECT_FALSE(factory);
    EXPECT_EQ(widget.refs, 1u);

    com_ptr<IWidget> target(&previous);
    EXPECT_EQ(query_interface(static_cast<IUnknown*>(nullptr), IID_IWidget, target), E_POINTER);
    EXPECT_FALSE(target);
    EXPECT_EQ(previous.refs, 0u);
}

}  // namespace
