// The mouse camera's drag arithmetic and the pointer-move logic of the view panel.
#include <gtest/gtest.h>

#include "FeedMouseMove.h"
#include "SpinFactorText.h"

using namespace tr4;

namespace {

ShiftState Right(bool ctrl = false, bool shift = false) {
    ShiftState s;
    s.right = true;
    s.ctrl = ctrl;
    s.shift = shift;
    return s;
}

TEST(MouseD3D, ConstructionTakesSpinFactorAndZoomOnly) {
    MouseD3D camera(0.1f, 6.0f);
    EXPECT_FLOAT_EQ(camera.spinFactor, 0.1f);
    EXPECT_FLOAT_EQ(camera.zoom, 6.0f);
    EXPECT_EQ(camera.angleY, 0.0f);
    EXPECT_EQ(camera.panY, 0.0f);
    EXPECT_FALSE(camera.rotateYActive || camera.rotateXActive || camera.zoomActive ||
                 camera.panXActive || camera.panYActive);
}

TEST(MouseD3D, FirstStepRecordsOnlyThenDistanceTimesSpinFactor) {
    MouseD3D camera(0.5f, 6.0f);
    EXPECT_EQ(camera.DragRotateY(100), 0.0f);  // first step: nothing moves
    EXPECT_EQ(camera.rotateYLast, 100);
    EXPECT_TRUE(camera.rotateYActive);
    EXPECT_FLOAT_EQ(camera.DragRotateY(110), -5.0f);  // right lowers the angle
    EXPECT_FLOAT_EQ(camera.DragRotateY(110), -5.0f);  // no distance, no change
    EXPECT_FLOAT_EQ(camera.DragRotateY(100), 0.0f);   // back left returns it
    EXPECT_EQ(camera.DragRotateX(20), 0.0f);
    EXPECT_FLOAT_EQ(camera.DragRotateX(24), -2.0f);  // down lowers it
    EXPECT_EQ(camera.DragPanX(7), 0.0f);
    EXPECT_FLOAT_EQ(camera.DragPanX(10), -1.5f);
    EXPECT_EQ(camera.DragPanY(7), 0.0f);
    EXPECT_FLOAT_EQ(camera.DragPanY(5), 1.0f);
}

TEST(MouseD3D, ChannelsAreIndependent) {
    MouseD3D camera(1.0f, 6.0f);
    camera.DragRotateY(0);
    camera.DragRotateY(5);
    // Feeding one channel leaves the others idle, with their values and last positions.
    EXPECT_FALSE(camera.rotateXActive);
    EXPECT_FALSE(camera.panXActive);
    EXPECT_EQ(camera.angleX, 0.0f);
    EXPECT_EQ(camera.panXLast, 0);
    EXPECT_FLOAT_EQ(camera.zoom, 6.0f);
    // A channel that was fed earlier resumes from its own last position.
    camera.DragPanX(50);
    camera.DragPanX(52);
    EXPECT_FLOAT_EQ(camera.DragRotateY(15), -15.0f);  // whole travel since x = 5
    EXPECT_FLOAT_EQ(camera.panX, -2.0f);
}

TEST(MouseD3D, ZoomClampsNegativeResultsButKeepsExactZero) {
    MouseD3D camera(0.5f, 6.0f);
    camera.DragZoom(0);
    EXPECT_EQ(camera.DragZoom(12), 0.0f);    // exactly zero stays
    EXPECT_EQ(camera.DragZoom(14), 0.001f);  // -1.0 becomes 0.001
    EXPECT_FLOAT_EQ(camera.DragZoom(12), 1.001f);

    // The clamp runs on the first step of a drag too.
    MouseD3D negative(0.5f, -3.0f);
    EXPECT_EQ(negative.DragZoom(40), 0.001f);
    EXPECT_EQ(negative.zoomLast, 40);
}

TEST(MouseD3D, SpinFactorAppliesToLaterStepsOnly) {
    MouseD3D camera(1.0f, 6.0f);
    camera.DragRotateY(0);
    camera.DragRotateY(2);
    camera.SetSpinFactor(0.25f);
    EXPECT_FLOAT_EQ(camera.angleY, -2.0f);  // nothing rescaled
    EXPECT_FLOAT_EQ(camera.DragRotateY(6), -3.0f);
    camera.SetSpinFactor(-1.0f);  // a negative factor reverses the direction
    EXPECT_FLOAT_EQ(camera.DragRotateY(7), -2.0f);
    camera.SetSpinFactor(0.0f);
    EXPECT_FLOAT_EQ(camera.DragRotateY(700), -2.0f);
}

TEST(MouseD3D, EndDragResetCameraAndSetZoom) {
    MouseD3D camera(0.5f, 6.0f);
    camera.DragRotateY(10);
    camera.DragRotateY(30);
    camera.DragZoom(3);
    camera.DragPanY(4);
    camera.EndDrag();
    EXPECT_FALSE(camera.rotateYActive || camera.zoomActive || camera.panYActive);
    EXPECT_FLOAT_EQ(camera.angleY, -10.0f);  // values and positions survive EndDrag
    EXPECT_EQ(camera.rotateYLast, 30);
    // After EndDrag the next step starts afresh.
    EXPECT_FLOAT_EQ(camera.DragRotateY(500), -10.0f);

    camera.ResetCamera();
    EXPECT_EQ(camera.zoom, 0.0f);  // the zoom too; the caller sets it again
    EXPECT_EQ(camera.angleY, 0.0f);
    EXPECT_EQ(camera.rotateYLast, 0);
    EXPECT_EQ(camera.panYLast, 0);
    EXPECT_FALSE(camera.rotateYActive);
    EXPECT_FLOAT_EQ(camera.spinFactor, 0.5f);

    camera.DragZoom(9);
    camera.DragRotateX(9);
    camera.SetZoom(6.0f);
    EXPECT_FLOAT_EQ(camera.zoom, 6.0f);
    EXPECT_FALSE(camera.zoomActive);
    EXPECT_EQ(camera.zoomLast, 0);
    EXPECT_TRUE(camera.rotateXActive);  // only the zoom channel is touched
    EXPECT_EQ(camera.rotateXLast, 9);
}

TEST(MouseD3D, ExtremePointerPositionsDoNotOverflow) {
    MouseD3D camera(1.0f, 6.0f);
    camera.DragPanX(INT32_MIN);
    EXPECT_FLOAT_EQ(camera.DragPanX(INT32_MAX), -4294967295.0f);
}

TEST(FeedMouseMove, RightDragTurnsCtrlZoomsShiftPans) {
    MouseD3D camera(0.5f, 6.0f);
    ViewState view;
    FeedMouseMove(camera, view, Right(), 0, 0);
    FeedMouseMove(camera, view, Right(), 10, 4);
    EXPECT_FLOAT_EQ(view.rotationY, -5.0f);
    EXPECT_FLOAT_EQ(view.rotationX, -2.0f);
    EXPECT_FLOAT_EQ(view.zoom, 6.0f);

    camera.EndDrag();
    FeedMouseMove(camera, view, Right(false, true), 0, 0);
    FeedMouseMove(camera, view, Right(false, true), 3, -2);
    EXPECT_FLOAT_EQ(camera.panX, -1.5f);  // the camera keeps the unscaled pan
    EXPECT_FLOAT_EQ(camera.panY, 1.0f);
    EXPECT_FLOAT_EQ(view.panX, -15.0f);
    EXPECT_FLOAT_EQ(view.panY, 10.0f);
    EXPECT_FLOAT_EQ(view.rotationY, -5.0f);  // turning untouched by a pan

    camera.EndDrag();
    FeedMouseMove(camera, view, Right(true, true), 0, 0);  // Ctrl wins over Shift
    FeedMouseMove(camera, view, Right(true, true), 40, 2);
    EXPECT_FLOAT_EQ(view.zoom, 5.0f);
    EXPECT_FLOAT_EQ(view.panX, -15.0f);
    EXPECT_FLOAT_EQ(camera.panX, -1.5f);
    EXPECT_FALSE(camera.panXActive);
}

TEST(FeedMouseMove, OnlyTheRightButtonDrags) {
    MouseD3D camera(0.5f, 6.0f);
    ViewState view;
    ShiftState left;
    left.left = true;
    left.alt = true;
    left.middle = true;
    FeedMouseMove(camera, view, left, 0, 0);
    FeedMouseMove(camera, view, left, 50, 50);
    EXPECT_FALSE(camera.rotateYActive);
    EXPECT_EQ(view.rotationY, 0.0f);

    ShiftState both = Right();
    both.left = true;
    both.alt = true;
    FeedMouseMove(camera, view, both, 0, 0);
    FeedMouseMove(camera, view, both, 2, 0);
    EXPECT_FLOAT_EQ(view.rotationY, -1.0f);
}

TEST(SpinFactorText, ReadsPointDecimalsOnly) {
    EXPECT_FLOAT_EQ(*TextToFloat("0.1"), 0.1f);
    EXPECT_FLOAT_EQ(*TextToFloat("0.25"), 0.25f);
    EXPECT_FLOAT_EQ(*TextToFloat(" -2 "), -2.0f);
    EXPECT_FLOAT_EQ(*TextToFloat("+.5"), 0.5f);
    EXPECT_FLOAT_EQ(*TextToFloat("3."), 3.0f);
    EXPECT_FLOAT_EQ(*TextToFloat("1e-2"), 0.01f);
    EXPECT_FLOAT_EQ(*TextToFloat("2E+1"), 20.0f);
    for (const char* bad : {"", " ", "0,1", "1,000.5", ".", "-", "1e", "1e+", "abc", "1.2.3", "inf",
                            "nan", "0x10", "1 2", "1e39", "--1"}) {
        EXPECT_FALSE(TextToFloat(bad).has_value()) << bad;
    }
    EXPECT_EQ(FloatConversionError("0,1"), "'0,1' is not a valid floating point value");
    EXPECT_EQ(FloatConversionError(""), "'' is not a valid floating point value");
}

}  // namespace
