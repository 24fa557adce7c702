#include "ParamPlan.h"

#include "ParamTable.h"

namespace paramplan {

DriveOf DriveOfRecords(const ParamTable& table)
{
    return [&table](int record) {
        const ParamRecord* r = table.RecordByIndex(record);
        return r && r->driveKnown ? Known{true, r->driveValue} : Known{};
    };
}

bool SameShown(const ParamRecord& record, double a, double b)
{
    return FormatByExponent(a, record.exponent) == FormatByExponent(b, record.exponent);
}

Step PlanOne(const ParamTable& table, const Want& want, const Known& drive)
{
    Step s;
    s.record = want.record;
    s.drive = drive;
    const ParamRecord* r = table.RecordByIndex(want.record);
    if (!r) {
        s.action = Action::Refuse;
        s.verdict = valuecheck::Verdict::NotANumber;
        return s;
    }
    const valuecheck::Assessed a = valuecheck::Assess(table, *r, want.value);
    s.value = a.value;
    s.rounded = a.rounded;
    s.verdict = a.verdict;
    if (!drive.known)
        s.action = Action::ReadFirst;
    else if (SameShown(*r, drive.value, s.value))
        s.action = Action::Leave;
    else
        s.action = a.verdict == valuecheck::Verdict::Ok ? Action::Write : Action::Refuse;
    return s;
}

std::vector<Step> Make(const ParamTable& table, const std::vector<Want>& wants, const DriveOf& drive)
{
    std::vector<Step> steps;
    steps.reserve(wants.size());
    for (const Want& w : wants) steps.push_back(PlanOne(table, w, drive ? drive(w.record) : Known{}));
    return steps;
}

bool Differs(const ParamTable& table, const Step& step)
{
    const ParamRecord* r = table.RecordByIndex(step.record);
    if (!r) return false;
    if (!step.drive.known) return true;
    if (!SameShown(*r, step.drive.value, step.value)) return true;
    return !r->noDefault && !SameShown(*r, step.drive.value, r->defaultValue);
}

Counts Count(const std::vector<Step>& steps)
{
    Counts c;
    for (const Step& s : steps) {
        switch (s.action) {
        case Action::Write: ++c.write; break;
        case Action::Leave: ++c.leave; break;
        case Action::Refuse: ++c.refuse; break;
        case Action::ReadFirst: ++c.readFirst; break;
        }
        if (s.rounded) ++c.rounded;
    }
    return c;
}

std::vector<Step> Only(const std::vector<Step>& steps, Action action)
{
    std::vector<Step> out;
    for (const Step& s : steps)
        if (s.action == action) out.push_back(s);
    return out;
}

std::wstring RefusalText(const ParamTable& table, const Step& step, int languageIndex)
{
    const ParamRecord* r = table.RecordByIndex(step.record);
    if (!r) return L"unknown parameter";
    return valuecheck::ReasonText(table, *r, step.verdict, languageIndex);
}

void WriteHistory::Push(WriteBatch batch)
{
    if (batch.rows.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    batches_.push_back(std::move(batch));
    while (batches_.size() > kKept) batches_.pop_front();
}

bool WriteHistory::Empty() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return batches_.empty();
}

size_t WriteHistory::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return batches_.size();
}

WriteBatch WriteHistory::Last() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return batches_.empty() ? WriteBatch{} : batches_.back();
}

void WriteHistory::DropLast()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!batches_.empty()) batches_.pop_back();
}

void WriteHistory::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    batches_.clear();
}

WriteHistory& TheWriteHistory()
{
    static WriteHistory history;
    return history;
}

std::vector<Step> UndoPlan(const ParamTable& table, const WriteBatch& batch, const DriveOf& drive)
{
    std::vector<Want> wants;
    for (const UndoRow& u : batch.rows) {
        const ParamRecord* r = table.RecordByIndex(u.record);
        if (!u.before.known || !r || r->address != u.address) continue;
        wants.push_back(Want{u.record, u.before.value});
    }
    return Make(table, wants, drive);
}

}  // namespace paramplan
