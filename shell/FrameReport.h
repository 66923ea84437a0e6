#pragma once
// Tells a program that launched the viewer when the first level is on screen, so start-up can be
// timed from outside without screenshots (the start-up benchmark). The launcher gives the viewer
// the write end of a pipe and names its number in TR4_REPORT_FRAME_FD; the viewer writes one
// byte to it after the first frame presented with the mesh list filled, then closes it.
//
// Unset, empty, not a number, or naming no open descriptor when the viewer starts: nothing is
// ever written. (Checked at start, before the process opens descriptors of its own, so a number
// that was closed then cannot later name, say, the display connection.) A write that fails is
// dropped, and a pipe whose reader is gone does not end the viewer.
namespace tr4 {

// Reads TR4_REPORT_FRAME_FD, keeps the descriptor it names if that is open, and removes the
// variable. Call first thing in main; a later call starts over with the variable as it is then.
void TakeFrameReportDescriptor();

// After a frame was presented: when the mesh list was filled and nothing was reported yet,
// writes the byte and closes the descriptor. Later calls do nothing.
void ReportFramePresented(bool listFilled);

}  // namespace tr4
