# pivotlib: Tcl-side support for the oskra.tcl bridge.
namespace eval ::pivotlib {
    # Commands displaced by Python callbacks wait here until restored.
    namespace eval _cbBkup {}
}
package provide pivotlib 1.0
