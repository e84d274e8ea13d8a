#pragma once

#include "support/boxcatcher.h"

#include "readermodel.h"

#include <QObject>

#include <memory>

class MainWindow;
class PtyReader;

// The simulated reader a test case starts from, and the checks it ends
// with. Test classes derive from it and call startCase() from init() and
// endCase() from cleanup(); it has no slots of its own, so QtTest runs only
// the test class's cases.
class ReaderTestCase : public QObject
{
    Q_OBJECT

public:
    ReaderTestCase();
    ~ReaderTestCase() override;

protected:
    // Link and command-line tests show no window, so nothing catches boxes.
    enum class Boxes { Caught, NotCaught };
    // Whether the pseudo-terminal plays the model or only records.
    enum class Answers { FromTheModel, Never };

    // No reader on the cable, a fresh model, and (unless told otherwise) a
    // BoxCatcher that answers Yes.
    void startCase(Boxes catchBoxes = Boxes::Caught);
    // The serial side's far end, as pty; the case fails when none can be had.
    void openPty(Answers answers = Answers::FromTheModel);
    // Fails the case when hidapi was misused, then lets go of all of it.
    void endCase();

    // Connects over the chosen transport, shows the window and waits for the
    // connect's own read, so that records and boxes start empty after it.
    void connectAndShow(MainWindow &w, bool serial);
    // Puts the model on the chosen transport (opening the pseudo-terminal or
    // plugging the reader in) and connects; the connect's boxes are cleared.
    void connectTo(MainWindow &w, bool serial);

    std::unique_ptr<ReaderModel> model;
    std::unique_ptr<PtyReader> pty;
    std::unique_ptr<BoxCatcher> boxes;
};

// Reader settings that differ from the model's defaults in every field. A USB read shows
// "F/W Version: 1BT V2.5", -56, 16, German, "[CR][LF]", "AB" and the euro
// sign (a serial read shows B0 as the degree sign); the flags are all set
// but the preamble's.
void loadTypicalSettings(ReaderState &s);

// The data rows "usb" and "serial" of a bool column "serial".
void addTransportRows();
