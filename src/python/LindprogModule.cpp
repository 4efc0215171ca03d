// The Python module: the script session's calls as Python objects. The
// interpreter lock is let go whenever the core waits on an adapter, so
// sessions in several Python threads program several adapters at once; it
// is taken again only to call back into Python (progress, log, the check
// for Ctrl-C on the main thread).

#include "core/base/TextFormat.h"
#include "core/link/PortNames.h"
#include "core/ops/Operation.h"
#include "core/production/JobPlan.h"
#include "python/ScriptSession.h"

#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

namespace py = pybind11;
using namespace lindprog;
using namespace lindprog::python;

namespace {

// The module's exception classes, created once when it is imported. The
// module holds them; these are borrowed, so that nothing is released after
// the interpreter has ended.
struct TErrorTypes {
    PyObject *Error, *PortError, *AdapterError, *MismatchError, *TargetError, *FileError, *JobError, *DatabaseError,
        *Cancelled;
};
TErrorTypes Errors{};
unsigned long MainThread = 0;

PyObject* NewError(py::module_& module, const char* name, PyObject* base, const char* doc)
{
    const std::string qualified = std::string("lindprog.") + name;
    auto type = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr));
    if (!type)
        throw py::error_already_set();
    module.attr(name) = type;
    return type.ptr();
}

PyObject* TypeOf(TFailureKind kind)
{
    switch (kind) {
    case TFailureKind::Port: return Errors.PortError;
    case TFailureKind::Adapter: return Errors.AdapterError;
    case TFailureKind::Mismatch: return Errors.MismatchError;
    case TFailureKind::Target: return Errors.TargetError;
    case TFailureKind::File: return Errors.FileError;
    case TFailureKind::Job: return Errors.JobError;
    case TFailureKind::Database: return Errors.DatabaseError;
    case TFailureKind::Cancelled: return Errors.Cancelled;
    }
    return Errors.Error;
}

void Raise(const TScriptFailure& failure)
{
    const auto type = py::reinterpret_borrow<py::object>(TypeOf(failure.Kind));
    py::object error = type(failure.what());
    error.attr("status") = failure.Status;
    error.attr("status_text") = failure.StatusText;
    error.attr("exit_code") = failure.ExitCode;
    if (failure.Kind == TFailureKind::Mismatch) {
        const bool found = failure.Mismatch.Found;
        error.attr("offset") = found ? py::object(py::int_(failure.Mismatch.Offset)) : py::none();
        error.attr("expected") = found ? py::object(py::int_(failure.Mismatch.Expected)) : py::none();
        error.attr("actual") = found ? py::object(py::int_(failure.Mismatch.Read)) : py::none();
    }
    if (failure.Kind == TFailureKind::Job)
        error.attr("place") = failure.Place;
    PyErr_SetObject(type.ptr(), error.ptr());
}

struct TPort {
    std::string Name, Path, Key;
    int Number = 0;
    bool Mapped = false, Adapter = false;
};

std::vector<TPort> Ports()
{
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    std::vector<TPort> ports;
    for (const TPortEntry& entry : names.AvailablePorts())
        ports.push_back({"COM" + std::to_string(entry.Number), entry.DevicePath, entry.Key, entry.Number, entry.Mapped,
                         CanBeAdapter(entry)});
    return ports;
}

std::optional<TEntryChoice> ChoiceOf(const py::object& entry, const char* what)
{
    if (entry.is_none())
        return std::nullopt;
    if (py::isinstance<py::bool_>(entry))
        throw py::type_error(std::string(what) + " is a name or an index");
    if (py::isinstance<py::int_>(entry)) {
        const auto index = entry.cast<long long>();
        if (index < 0)
            throw py::value_error(std::string(what) + " index must not be negative");
        return TEntryChoice{{}, static_cast<std::size_t>(index)};
    }
    if (py::isinstance<py::str>(entry))
        return TEntryChoice{entry.cast<std::string>(), std::nullopt};
    throw py::type_error(std::string(what) + " is a name or an index");
}

TScriptData DataOf(const py::object& data)
{
    TScriptData result;
    if (py::isinstance<py::str>(data) || py::hasattr(data, "__fspath__")) {
        result.Path = py::str(py::module_::import("os").attr("fspath")(data)).cast<std::string>();
        return result;
    }
    if (!PyObject_CheckBuffer(data.ptr()))
        throw py::type_error("data is a file's path or bytes");
    const auto bytes = py::reinterpret_steal<py::object>(PyBytes_FromObject(data.ptr()));
    if (!bytes)
        throw py::error_already_set();
    const std::string_view view(PyBytes_AS_STRING(bytes.ptr()),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
    result.Bytes.assign(view.begin(), view.end());
    return result;
}

py::bytes BytesOf(const std::vector<std::uint8_t>& data)
{
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

class TPySession {
public:
    TPySession(const std::string& port, const TScriptOptions& options, py::object progress, py::object log)
        : Progress(std::move(progress)), Log(std::move(log))
    {
        TScriptHooks hooks;
        hooks.Log = [this](const std::string& line) { Call([&] { LogLine(line); }); };
        hooks.Progress = [this](const TStageProgress& progress, const std::string& stage) {
            Call([&] {
                if (Progress.is_none())
                    return;
                if (progress.Blocks)
                    Progress(stage, progress.Bytes, progress.Total, progress.BytesPerSecond());
                else
                    Progress(stage, progress.Percent, 100, 0.0);
            });
        };
        hooks.Interrupted = [this] { return Interrupted(); };
        Run([&] { Core = std::make_unique<TScriptSession>(port, options, std::move(hooks)); });
    }

    ~TPySession()
    {
        py::gil_scoped_release release;
        Core.reset();
    }

    // The core's work with the lock let go. An exception the script raised
    // meanwhile (Ctrl-C, a callback's) wins over the cancel it caused.
    template <class F>
    auto Run(F&& work) -> decltype(work())
    {
        using TResult = decltype(work());
        Pending = nullptr;
        if constexpr (std::is_void_v<TResult>) {
            try {
                py::gil_scoped_release release;
                work();
            } catch (...) {
                RethrowPending();
                throw;
            }
            RethrowPending();
        } else {
            std::optional<TResult> result;
            try {
                py::gil_scoped_release release;
                result.emplace(work());
            } catch (...) {
                RethrowPending();
                throw;
            }
            RethrowPending();
            return std::move(*result);
        }
    }

    TScriptSession& Session() const { return *Core; }

    py::object Progress;
    py::object Log;

private:
    template <class F>
    void Call(F&& callback)
    {
        py::gil_scoped_acquire acquire;
        if (Pending)
            return;
        try {
            callback();
        } catch (py::error_already_set&) {
            Pending = std::current_exception();
            if (Core)
                Core->Cancel();
        }
    }

    void LogLine(const std::string& line)
    {
        if (!Log.is_none()) {
            Log(line);
            return;
        }
        py::module_::import("logging").attr("getLogger")("lindprog").attr("info")(line);
    }

    // Python runs its signal handlers only on the main thread, between
    // bytecodes; while the core waits there, they run here, once per block.
    bool Interrupted()
    {
        if (PyThread_get_thread_ident() != MainThread)
            return false;
        py::gil_scoped_acquire acquire;
        if (PyErr_CheckSignals() == 0)
            return false;
        Pending = std::make_exception_ptr(py::error_already_set());
        return true;
    }

    void RethrowPending()
    {
        if (Pending)
            std::rethrow_exception(std::exchange(Pending, nullptr));
    }

    std::exception_ptr Pending; // touched only with the lock held
    std::unique_ptr<TScriptSession> Core;
};

TScriptRequest RequestOf(TOperation operation, const py::object& region, const py::object& device,
                         const std::optional<std::string>& voltage)
{
    TScriptRequest request;
    request.Operation = operation;
    request.Target.Region = ChoiceOf(region, "region");
    request.Target.Device = ChoiceOf(device, "device");
    request.Target.Voltage = voltage;
    return request;
}

py::dict ResultDict(const TScriptResult& result)
{
    py::dict fields;
    fields["device"] = result.Device;
    fields["region"] = result.Region;
    fields["line"] = result.Line;
    fields["bytes"] = result.Bytes;
    fields["seconds"] = result.Seconds;
    fields["crc"] = result.Crc ? py::object(py::int_(*result.Crc)) : py::none();
    fields["unchanged"] = result.Unchanged;
    fields["blocks_written"] = result.BlocksWritten;
    fields["blocks_blank"] = result.BlocksBlank;
    return fields;
}

void BindSessionOperations(py::class_<TPySession>& session, const py::object& resultType,
                           const py::object& comparisonType)
{
    auto run = [](TPySession& self, const TScriptRequest& request) {
        return self.Run([&] { return self.Session().Run(request); });
    };
    session.def(
        "read",
        [run](TPySession& self, const py::object& region, const py::object& device,
              const std::optional<std::string>& voltage) {
            const TScriptResult result = run(self, RequestOf(TOperation::Read, region, device, voltage));
            return BytesOf(result.Data);
        },
        py::arg("region") = py::none(), py::arg("device") = py::none(), py::kw_only(), py::arg("voltage") = py::none(),
        "Reads the region (by name or index; the first when none) and returns its bytes.");
    for (const TOperation operation : {TOperation::Erase, TOperation::BlankCheck, TOperation::Unlock}) {
        std::string name = OperationInfo(operation).Command;
        std::replace(name.begin(), name.end(), '-', '_');
        session.def(
            name.c_str(),
            [run, operation, resultType](TPySession& self, const py::object& region, const py::object& device,
                                         const std::optional<std::string>& voltage) {
                return resultType(**ResultDict(run(self, RequestOf(operation, region, device, voltage))));
            },
            py::arg("region"), py::arg("device") = py::none(), py::kw_only(), py::arg("voltage") = py::none(),
            Format("Runs %s on the region and returns its Result.", OperationInfo(operation).Command).c_str());
    }
    for (const TOperation operation : {TOperation::Write, TOperation::Verify, TOperation::Program}) {
        session.def(
            OperationInfo(operation).Command,
            [run, operation, resultType](TPySession& self, const py::object& region, const py::object& data,
                                         const py::object& device, const std::optional<std::string>& voltage,
                                         std::optional<std::uint64_t> base, bool pad, std::optional<bool> sparse,
                                         bool preverify) {
                TScriptRequest request = RequestOf(operation, region, device, voltage);
                request.Data = DataOf(data);
                request.Base = base;
                request.Pad = pad;
                request.Sparse = sparse;
                if (preverify && operation == TOperation::Verify)
                    throw py::value_error("preverify applies to write and program");
                request.Preverify = preverify;
                return resultType(**ResultDict(run(self, request)));
            },
            py::arg("region"), py::arg("data"), py::arg("device") = py::none(), py::kw_only(),
            py::arg("voltage") = py::none(), py::arg("base") = py::none(), py::arg("pad") = false,
            py::arg("sparse") = py::none(), py::arg("preverify") = false,
            Format("Runs %s of data (a file's path or bytes) on the region and returns its Result.",
                   OperationInfo(operation).Command)
                .c_str());
    }
    session.def(
        "compare",
        [run, comparisonType](TPySession& self, const py::object& region, const py::object& data,
                              const py::object& device, const std::optional<std::string>& voltage,
                              std::optional<std::uint64_t> base, bool pad) {
            TScriptRequest request = RequestOf(TOperation::Read, region, device, voltage);
            request.Compare = true;
            request.Data = DataOf(data);
            request.Base = base;
            request.Pad = pad;
            const TScriptResult result = run(self, request);
            py::list ranges;
            for (const TDifferenceRange& range : result.Differences.Ranges)
                ranges.append(py::make_tuple(range.Start, range.End));
            return comparisonType(result.Differences.None(), result.Differences.Count, ranges,
                                  result.Differences.OnlySetsBits, BytesOf(result.Data), result.Line);
        },
        py::arg("region"), py::arg("data"), py::arg("device") = py::none(), py::kw_only(),
        py::arg("voltage") = py::none(), py::arg("base") = py::none(), py::arg("pad") = false,
        "Reads the region and compares it on the computer with data; returns a Comparison.");
}

py::list DevicesOf(const TAdapterReport& report, const py::object& deviceType, const py::object& regionType)
{
    py::list devices;
    for (const TDeviceTarget& device : report.Devices) {
        py::list regions;
        for (std::size_t r = 0; r < device.Regions.size(); ++r) {
            const TTargetRegion& region = device.Regions[r];
            regions.append(regionType(r, region.Name, region.Size, region.Flags, AllowedCommands(region.Flags)));
        }
        std::vector<std::string> voltages;
        for (const auto& entry : device.Voltages)
            voltages.push_back(entry.Value);
        devices.append(deviceType(device.DeviceIndex, device.DeviceName, voltages, device.VoltageMask, regions));
    }
    return devices;
}

struct TPyJob {
    std::shared_ptr<const TScriptJob> Job;
};

} // namespace

PYBIND11_MODULE(_lindprog, module)
{
    module.doc() = "The Corvane programmer's core for scripts: sessions on adapters, their operations and jobs.";
    module.attr("__version__") = LINDPROG_VERSION;
    MainThread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    Errors.Error =
        NewError(module, "Error", PyExc_Exception, "Every failure of the programmer: status, status_text, exit_code.");
    Errors.PortError = NewError(module, "PortError", Errors.Error,
                                "No port, it would not open, no adapter answered, or the port went away.");
    Errors.AdapterError =
        NewError(module, "AdapterError", Errors.Error, "The adapter refused or failed; status says how.");
    Errors.MismatchError = NewError(module, "MismatchError", Errors.AdapterError,
                                    "Verify found a difference (offset, expected, actual) or blank check found data.");
    Errors.TargetError = NewError(module, "TargetError", Errors.Error,
                                  "A device, region, voltage or operation the adapter does not offer.");
    Errors.FileError =
        NewError(module, "FileError", Errors.Error, "An image that cannot be read or does not fit its region.");
    Errors.JobError = NewError(module, "JobError", Errors.Error, "A bad job file (place names the step and key).");
    Errors.DatabaseError = NewError(module, "DatabaseError", Errors.Error, "The unit database failed or went away.");
    Errors.Cancelled = NewError(module, "Cancelled", Errors.Error, "cancel() stopped the operation.");
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const TScriptFailure& failure) {
            Raise(failure);
        }
    });

    // Plain records as named tuples: printable, comparable, unpackable.
    const py::object namedTuple = py::module_::import("collections").attr("namedtuple");
    const py::object portType = namedTuple("Port", "name number path key mapped adapter");
    const py::object regionType = namedTuple("Region", "index name size flags operations");
    const py::object deviceType = namedTuple("Device", "index name voltages voltage_mask regions");
    const py::object scanType = namedTuple("JtagScan", "count ir_length ids");
    const py::object resultType =
        namedTuple("Result", "device region line bytes seconds crc unchanged blocks_written blocks_blank");
    const py::object comparisonType = namedTuple("Comparison", "equal count ranges only_sets_bits data line");
    for (const py::object* type : {&portType, &regionType, &deviceType, &scanType, &resultType, &comparisonType}) {
        type->attr("__module__") = "lindprog";
        module.attr(type->attr("__name__")) = *type;
    }

    module.def(
        "ports",
        [portType] {
            py::list ports;
            for (const TPort& port : Ports())
                ports.append(portType(port.Name, port.Number, port.Path, port.Key, port.Mapped, port.Adapter));
            return ports;
        },
        "The serial ports there are; adapter tells the ones that can be an adapter's.");

    py::class_<TPyJob>(module, "Job", "A job file read once with its images; run it with Session.run_job.")
        .def_property_readonly("name", [](const TPyJob& job) { return job.Job->Job.Name; })
        .def_property_readonly("path", [](const TPyJob& job) { return job.Job->Job.Path; })
        .def_property_readonly("hash", [](const TPyJob& job) { return job.Job->Images.Hash; })
        .def_property_readonly("plan", [](const TPyJob& job) { return JobCheckText(job.Job->Job, job.Job->Images); })
        .def("__repr__", [](const TPyJob& job) { return "<lindprog.Job " + job.Job->Job.Path + ">"; });
    module.def(
        "load_job",
        [](const py::object& path) {
            const auto text = py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
            py::gil_scoped_release release;
            return TPyJob{LoadScriptJob(text)};
        },
        py::arg("path"), "Reads a job file and its images; raises JobError naming the step and key.");

    py::class_<TPySession> session(module, "Session", "One adapter on one port; a context manager that closes it.");
    session.def_property_readonly("port", [](const TPySession& self) { return self.Session().PortName(); })
        .def_property_readonly("identity", [](const TPySession& self) { return self.Session().Identity(); })
        .def_property_readonly("firmware_version",
                               [](const TPySession& self) { return self.Session().FirmwareVersion(); })
        .def_property_readonly("key", [](TPySession& self) { return self.Run([&] { return self.Session().Key(); }); })
        .def_property_readonly("devices",
                               [deviceType, regionType](TPySession& self) {
                                   const TAdapterReport* report = self.Run([&] { return &self.Session().Report(); });
                                   return DevicesOf(*report, deviceType, regionType);
                               })
        .def_property_readonly("closed", [](const TPySession& self) { return self.Session().Closed(); })
        .def_readwrite("progress", &TPySession::Progress)
        .def_readwrite("log", &TPySession::Log)
        .def(
            "jtag_scan",
            [scanType](TPySession& self) {
                const TJtagScanReply scan = self.Run([&] { return self.Session().JtagScan(); });
                return scanType(scan.DeviceCount, scan.IrLength, scan.Ids);
            },
            "Scans the JTAG chain: the device count, the total IR length and the first ten IDs.")
        .def(
            "run_job",
            [](TPySession& self, const TPyJob& job, const std::optional<std::string>& db, const std::string& station) {
                const auto unit =
                    self.Run([&] { return self.Session().RunJob(*job.Job, db.value_or(std::string()), station); });
                py::dict record = py::module_::import("json").attr("loads")(unit.RecordJson);
                record["verdict"] = unit.Verdict;
                return record;
            },
            py::arg("job"), py::arg("db") = py::none(), py::arg("station") = "",
            "Runs one unit of the job; returns its record as db export --json writes it, with its verdict.")
        .def(
            "cancel", [](TPySession& self) { self.Session().Cancel(); },
            "From any thread: the running operation stops at its next block.")
        .def(
            "close", [](TPySession& self) { self.Run([&] { self.Session().Close(); }); },
            "Closes the port; the session runs nothing more.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](TPySession& self, const py::args&) { self.Run([&] { self.Session().Close(); }); })
        .def("__repr__", [](const TPySession& self) {
            return "<lindprog.Session " + self.Session().PortName() + (self.Session().Closed() ? " closed>" : ">");
        });
    BindSessionOperations(session, resultType, comparisonType);

    module.def(
        "open",
        [](const std::optional<std::string>& port, bool powerOff, std::int32_t jtagDelay, bool ignoreReadErrors,
           py::object progress, py::object log) {
            TScriptOptions options;
            options.PowerOff = powerOff;
            options.JtagDelay = jtagDelay;
            options.IgnoreReadErrors = ignoreReadErrors;
            return std::make_unique<TPySession>(port.value_or(std::string()), options, std::move(progress),
                                                std::move(log));
        },
        py::arg("port") = py::none(), py::kw_only(), py::arg("power_off") = true,
        py::arg("jtag_delay") = TSettings::MinJtagDelay, py::arg("ignore_read_errors") = false,
        py::arg("progress") = py::none(), py::arg("log") = py::none(),
        "Opens the adapter on port (COM<N>, key:K or a path; the one there is when None) and connects.");
}
