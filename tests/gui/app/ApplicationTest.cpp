// The application object's handler for errors that escape a command handler.
// A binary of its own: it needs TApplication as the one application object.

#include "gui/main/Application.h"

#include "core/buffer/BufferFile.h"

#include <QEvent>
#include <QObject>
#include <gtest/gtest.h>

namespace lindprog {
namespace {

class TThrowingObject final : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw TFileError("Cannot open file \"/nowhere/x.bin\". No such file or directory");
        return QObject::event(event);
    }
};

TApplication* App = nullptr;

TEST(Application, ErrorEscapingAHandlerIsShownAndTheProgramGoesOn)
{
    std::vector<QString> shown;
    App->ShowError = [&shown](const QString& message) { shown.push_back(message); };
    TThrowingObject target;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Cannot open file \"/nowhere/x.bin\". No such file or directory");
    QEvent again(QEvent::User);
    QCoreApplication::sendEvent(&target, &again);
    EXPECT_EQ(shown.size(), 2u) << "the program carries on and handles the next error too";
    EXPECT_EQ(QCoreApplication::applicationName(), "Corvane Programmer");
}

} // namespace
} // namespace lindprog

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    lindprog::TApplication application(argc, argv);
    lindprog::App = &application;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
