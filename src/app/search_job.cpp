#include "app/search_job.h"

#include "app/texts.h"
#include "http/fetch.h"
#include "platform/controls.h"
#include "search/result_page.h"
#include "search/search_address.h"
#include "text/text_ops.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

namespace {

// The latest command's ticket. The user-interface thread touches nothing else of the order below:
// a control operation waits for that thread, so a worker may call one while it holds the mutex.
std::atomic<JobTicket> LastIssued{0};

// How the running jobs share the window. Taken by workers only.
struct JobOrder {
  std::mutex mutex;
  std::condition_variable rowsDone;
  JobTicket shown = 0;            // the job whose page the label and the button show
  JobTicket clearedBy = 0;        // the latest job that emptied the table
  JobTicket doneThrough = 0;      // every job up to this one is done with its rows
  std::set<JobTicket> doneAfter;  // jobs beyond doneThrough that are done with theirs
};

JobOrder& Order() {
  // Never destroyed: workers still running when the process ends may be waiting on it.
  static JobOrder* const order = new JobOrder;
  return *order;
}

// Whether the job's rows still belong in the table: not once a later job has emptied it. Rows
// that go in before the later job gets there are emptied with the rest; and should that job keep
// the table after all (the check box cleared in between), the earlier page stays whole before its
// own. Called with the mutex held.
bool RowsWanted(const JobOrder& order, JobTicket ticket) {
  return ticket >= order.clearedBy;
}

// Whether an empty page is still worth a box: with the check box checked, not once a later command
// has been given.
bool BoxWanted(const JobOrder& order, JobTicket ticket, bool clearing) {
  return RowsWanted(order, ticket) && !(clearing && LastIssued.load() > ticket);
}

void MarkRowsDone(JobOrder& order, JobTicket ticket) {
  {
    std::lock_guard lock(order.mutex);
    order.doneAfter.insert(ticket);
    while (!order.doneAfter.empty() && *order.doneAfter.begin() == order.doneThrough + 1) {
      order.doneAfter.erase(order.doneAfter.begin());
      ++order.doneThrough;
    }
  }
  order.rowsDone.notify_all();
}

}  // namespace

JobTicket NextJobTicket() {
  return LastIssued.load() + 1;
}

void IssueJobTicket(JobTicket ticket) {
  LastIssued.store(ticket);
}

void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page) {
  SearchJob(settings, keyword, page, LastIssued.fetch_add(1) + 1);
}

void SearchJob(const SearchSettings& settings, const AnsiText& keyword, std::int32_t page,
               JobTicket ticket) {
  JobOrder& order = Order();
  {
    // Label and button together, so that an earlier job cannot put back its page in between.
    std::lock_guard lock(order.mutex);
    if (ticket > order.shown) {
      order.shown = ticket;
      SetLabelText(Control::PageLabel, IntToText(page));
      SetButtonEnabled(Control::PreviousPageButton, page != 1);
    }
  }
  const bool clearing = IsChecked(Control::ClearCheckBox);
  if (clearing) {
    std::lock_guard lock(order.mutex);
    if (ticket > order.clearedBy) {
      order.clearedBy = ticket;
      DeleteAllRows();
    }
  }

  const AnsiText pageText = BytesToText(FetchUrl(SearchAddress(settings.host, keyword, page)));

  if (!clearing) {
    // The rows of earlier commands' pages go in first.
    std::unique_lock lock(order.mutex);
    order.rowsDone.wait(lock, [&] { return order.doneThrough + 1 >= ticket; });
  }
  // Each row goes in as soon as it has been read, unless the job is no longer wanted by then.
  const std::int32_t blocks =
      ParseResultPage(pageText, settings.shareDomain, [&](const ResultRow& row) {
        std::lock_guard lock(order.mutex);
        if (RowsWanted(order, ticket)) {
          AppendRow({row.fileName, row.size, row.sharer, row.link});
        }
      });
  bool showBox = false;
  if (blocks == 0) {
    std::lock_guard lock(order.mutex);
    showBox = BoxWanted(order, ticket, clearing);
  }
  // Done before the box: later pages need not wait until the user has closed it.
  MarkRowsDone(order, ticket);
  if (showBox) {
    ShowMessageBox(JoinTexts({NoResultsMessage, "\r\n", ContactPrefix, settings.contact}),
                   AnsiText(NoResultsTitle));
  }
}
