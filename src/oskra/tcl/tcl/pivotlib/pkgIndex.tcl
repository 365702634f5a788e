package ifneeded pivotlib 1.0 [list source [file join $dir pivotlib.tcl]]
