// Everyday use of the shell with the sample data set: the parameter search.
#include "ShellViews.h"
#include "test_mainframe_util.h"

#include "ParamGridView.h"
#include "ReportGrid.h"

#include <QLineEdit>
#include <QTest>

using namespace mftest;

namespace {

// The sample data set's language files, parameter and function workbooks.
bool CopySampleData(const TempDir& dir, const std::string& language)
{
    const fs::path sample = TORVANE_SAMPLE_PROGRAM_DIR;
    std::error_code ec;
    for (const char* d : {"Language", "Parameter", "Function"}) {
        fs::copy(sample / d, fs::path(dir.path()) / d, fs::copy_options::recursive, ec);
        if (ec) return false;
    }
    WriteText(dir.file("Language/setting.ini"), "[Setting]\nLanguage=" + language + "\nDevice=TV380\n");
    return true;
}

}  // namespace

class SmallWindowTest : public FrameTest {
protected:
    // The frame with the sample data, 800 x 600, in `language`.
    void StartSample(const std::string& language)
    {
        ASSERT_TRUE(CopySampleData(dir_, language));
        RegisterBuiltViews(views_);
        Start();
        frame_->resize(800, 600);
        QApplication::processEvents();
    }
};

// The search field above the tree: a parameter by number or by words of its
// name in the language shown opens its group with the row selected; Ctrl+F
// goes to the field.
TEST_F(SmallWindowTest, ParameterSearchOpensTheGroupAtTheRow)
{
    StartSample("English");
    QLineEdit* field = frame_->DevicePane()->SearchField();
    EXPECT_EQ(frame_->Command(ID_FIND_PARAM)->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Find Parameter (Ctrl+F)"));
    frame_->Command(ID_FIND_PARAM)->trigger();
    EXPECT_EQ(frame_->focusWidget(), field);

    auto selectedPnu = [this]() -> std::wstring {
        auto* v = dynamic_cast<CParamGridView*>(frame_->CurrentView());
        if (!v) return L"(no parameter view)";
        const QModelIndexList rows = v->Grid()->selectionModel()->selectedRows();
        if (rows.size() != 1) return L"(no row)";
        return table_.params[static_cast<size_t>(v->RowRecords()[static_cast<size_t>(rows[0].row())])].pnu;
    };
    // Enter in the field: the words are in subgroup 2.1.
    field->setText(QStringLiteral("rated voltage"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(COfficeTreeCtrl::ItemNumber(frame_->DevicePane()->Tree()->currentItem()), DT_SUBGROUP_BASE + 21);
    EXPECT_EQ(selectedPnu(), L"02.02");
    // By number, also of a monitor group.
    EXPECT_TRUE(frame_->FindParameter(QStringLiteral("P9.1")));
    EXPECT_EQ(selectedPnu(), L"09.01");

    // Names are searched in the language shown.
    EXPECT_TRUE(frame_->SwitchLanguage(L"Chinese"));
    EXPECT_FALSE(frame_->FindParameter(QStringLiteral("rated current")));
    EXPECT_EQ(frame_->PaneText(0), QString::fromUtf8("未找到参数: rated current"));
    EXPECT_TRUE(frame_->FindParameter(QString::fromUtf8("电机1额定电流")));
    EXPECT_EQ(selectedPnu(), L"02.03");
}
