// The Python module quorvel: the NonStationary class and the conversion of series arguments.
#include "../core/interrupt.hpp"
#include "../core/non_stationary.hpp"
#include "../measures/registry.hpp"

#include <pybind11/eigen.h>
#include <pybind11/pybind11.h>

#include <cstring>
#include <string>
#include <utility>

namespace py = pybind11;

namespace {

// A series of doubles crossing the Python boundary, shown as "List[float]" in signatures.
struct PySeries {
    quorvel::Series values;
};

// Ctrl-C during a run: the pending signal's exception abandons the run.
void raisePendingSignal() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// Errors by which a value or a sequence says it does not convert; any other error (an interrupt,
// memory running out, a fault in the caller's own __float__) is the caller's and propagates.
bool isConversionFailure() {
    return PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_ValueError) ||
           PyErr_ExceptionMatches(PyExc_OverflowError) ||
           PyErr_ExceptionMatches(PyExc_NotImplementedError);
}

// False for a conversion failure, which pybind11 then reports with the accepted signatures.
bool refuseOrPropagate() {
    if (!isConversionFailure()) throw py::error_already_set();
    PyErr_Clear();
    return false;
}

// A NumPy type by name, when NumPy is already imported (else nothing can be of that type).
py::object numpyType(const char* module, const char* name) {
    PyObject* imported = PyDict_GetItemString(PyImport_GetModuleDict(), module);  // borrowed
    if (imported == nullptr) return py::none();
    return py::getattr(imported, name, py::none());
}

bool isInstanceOf(py::handle value, const py::object& type) {
    if (type.is_none()) return false;
    const int found = PyObject_IsInstance(value.ptr(), type.ptr());
    if (found < 0) throw py::error_already_set();
    return found != 0;
}

// Holds a caller's buffer and releases it on every exit.
class BufferView {
public:
    explicit BufferView(py::handle src)
        : held_(PyObject_GetBuffer(src.ptr(), &view_, PyBUF_STRIDES | PyBUF_FORMAT) == 0) {
        if (!held_) PyErr_Clear();
    }
    ~BufferView() {
        if (held_) PyBuffer_Release(&view_);
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;

    bool held() const { return held_; }
    const Py_buffer& view() const { return view_; }

private:
    Py_buffer view_{};
    bool held_;
};

}  // namespace

namespace pybind11 {
namespace detail {

// Loads the estimator behind `self`, refusing an object made by NonStationary.__new__ without
// __init__: its storage holds no estimator yet.
template <>
struct type_caster<quorvel::NonStationary> : type_caster_base<quorvel::NonStationary> {
    bool load(handle src, bool convert) {
        if (!type_caster_base<quorvel::NonStationary>::load(src, convert)) return false;
        auto* self = reinterpret_cast<instance*>(src.ptr());
        if (!self->get_value_and_holder(get_type_info(typeid(quorvel::NonStationary)))
                 .holder_constructed())
            throw type_error(
                "this NonStationary object is not initialised: create it with "
                "quorvel.NonStationary(), not NonStationary.__new__ alone");
        return true;
    }
};

template <>
struct type_caster<PySeries> {
    PYBIND11_TYPE_CASTER(PySeries, const_name("List[float]"));

    bool load(handle src, bool) {
        // A masked array is read as its data once it has no masked element; the module has no
        // notion of a missing value.
        object unmasked;
        if (isInstanceOf(src, numpyType("numpy.ma", "MaskedArray"))) {
            refuseMasked(src);
            unmasked = src.attr("data");
            src = unmasked;
        }
        switch (loadFloat64Buffer(src)) {
            case Buffer::Taken:
                return true;
            case Buffer::Refused:
                return false;
            case Buffer::Other:
                break;
        }
        return loadElements(src);
    }

    static handle cast(const PySeries& src, return_value_policy, handle) {
        auto result =
            reinterpret_steal<list>(PyList_New(static_cast<Py_ssize_t>(src.values.size())));
        if (!result) throw error_already_set();
        for (std::size_t i = 0; i < src.values.size(); ++i) {
            PyObject* item = PyFloat_FromDouble(src.values[i]);
            if (item == nullptr) throw error_already_set();
            PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i), item);
        }
        return result.release();
    }

private:
    enum class Buffer { Taken, Refused, Other };

    static void refuseMasked(handle src) {
        const object mask = module_::import("numpy.ma").attr("getmaskarray")(src);
        const auto masked = mask.attr("sum")().cast<Py_ssize_t>();
        if (masked == 0) return;
        const auto first = mask.attr("argmax")().cast<Py_ssize_t>();
        const std::string where =
            masked == 1 ? " masked value, at position " : " masked values, the first at position ";
        throw value_error("series contains " + std::to_string(masked) + where +
                          std::to_string(first) +
                          ": the module has no notion of missing values; drop them "
                          "(.compressed()) or fill them (.filled()) first");
    }

    // One-dimensional buffers of native doubles (a float64 NumPy array, array('d'), a
    // memoryview) are copied directly: one memcpy when contiguous, a strided loop otherwise.
    // Complex buffers are refused rather than read by their real parts.
    Buffer loadFloat64Buffer(handle src) {
        if (!PyObject_CheckBuffer(src.ptr()) || isinstance<bytes>(src)) return Buffer::Other;
        const BufferView buffer(src);
        if (!buffer.held()) return Buffer::Other;
        const Py_buffer& view = buffer.view();
        const std::string format = view.format ? view.format : "B";
        if (format.find('Z') != std::string::npos) return Buffer::Refused;
        const bool nativeDouble =
            view.itemsize == sizeof(double) && (format == "d" || format == "@d" || format == "=d");
        if (!nativeDouble || view.ndim != 1) return Buffer::Other;
        const auto n = static_cast<std::size_t>(view.shape[0]);
        value.values.resize(n);
        const char* base = static_cast<const char*>(view.buf);
        if (view.strides[0] == static_cast<Py_ssize_t>(sizeof(double))) {
            if (n != 0) std::memcpy(value.values.data(), base, n * sizeof(double));
        } else {
            for (std::size_t i = 0; i < n; ++i)
                std::memcpy(&value.values[i], base + static_cast<Py_ssize_t>(i) * view.strides[0],
                            sizeof(double));
        }
        return Buffer::Taken;
    }

    // Any other sequence (not str or bytes) is read in its order of iteration, so a pandas
    // Series gives its values as stored whatever its index; every element converts as float()
    // would, complex values aside.
    bool loadElements(handle src) {
        if (!PySequence_Check(src.ptr()) || isinstance<bytes>(src) || isinstance<str>(src))
            return false;
        const Py_ssize_t hint = PyObject_LengthHint(src.ptr(), 0);
        if (hint < 0) return refuseOrPropagate();
        const auto iterator = reinterpret_steal<object>(PyObject_GetIter(src.ptr()));
        if (!iterator) return refuseOrPropagate();
        const object numpyComplex = numpyType("numpy", "complexfloating");
        quorvel::Series values;
        values.reserve(static_cast<std::size_t>(hint));
        while (true) {
            const auto item = reinterpret_steal<object>(PyIter_Next(iterator.ptr()));
            if (!item) {
                if (PyErr_Occurred() != nullptr) return refuseOrPropagate();
                break;
            }
            if (PyFloat_CheckExact(item.ptr())) {
                values.push_back(PyFloat_AS_DOUBLE(item.ptr()));
                continue;
            }
            if (PyComplex_Check(item.ptr()) || isInstanceOf(item, numpyComplex)) return false;
            const double x = PyFloat_AsDouble(item.ptr());
            if (x == -1.0 && PyErr_Occurred() != nullptr) return refuseOrPropagate();
            values.push_back(x);
        }
        value.values = std::move(values);
        return true;
    }
};

}  // namespace detail
}  // namespace pybind11

PYBIND11_MODULE(quorvel, m) {
    m.doc() = R"pbdoc(
        Pybind11 example plugin
        -----------------------

        .. currentmodule:: quorvel

        .. autosummary::
           :toctree: _generate

           setup
           nsFunc
    )pbdoc";

    using quorvel::NonStationary;
    py::class_<NonStationary>(m, "NonStationary")
        .def(py::init([] { return NonStationary(quorvel::measureRegistry()); }))
        .def("setup", &NonStationary::setup)
        .def("setupDS", &NonStationary::setupDS)
        .def("nsFunc",
             [](NonStationary& self, const std::string& name, const PySeries& series) {
                 const quorvel::InterruptScope interruptible(&raisePendingSignal);
                 return self.nsFunc(name, series.values);
             })
        .def("getH", &NonStationary::getH)
        .def("getH0", &NonStationary::getH0)
        .def("getA", &NonStationary::getA)
        .def_property(
            "data", [](const NonStationary& self) { return PySeries{self.data()}; },
            [](NonStationary& self, PySeries series) { self.setData(std::move(series.values)); })
        .def("nsFuncRange",
             [](NonStationary& self, const std::string& name, std::uint64_t first,
                std::uint64_t last) {
                 const quorvel::InterruptScope interruptible(&raisePendingSignal);
                 return self.nsFuncRange(name, first, last);
             })
        // Pickle's protocols 0 and 1 would otherwise build the object through a base that
        // cannot be instantiated, which aborts the interpreter; every protocol refuses alike.
        .def("__reduce_ex__", [](py::handle self, py::handle) -> py::object {
            throw py::type_error(std::string("cannot pickle '") + Py_TYPE(self.ptr())->tp_name +
                                 "' object");
        });

    m.attr("__version__") = QUORVEL_VERSION;
}
